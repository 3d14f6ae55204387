#include "i18n/command_line_texts.h"

#include <iterator>

namespace {
constexpr CommandLineTexts texts[] = {
    {L"Usage:\n"
     L"  OstrelSetup.exe /quiet|/passive /accept-terms [/dir PATH] [/lang en|ko|ja|zh|ru]\n"
     L"                  [/no-desktop-shortcut] [/no-start-menu-shortcut] [/launch] [/proxy URL]\n"
     L"  OstrelSetup.exe /check [/lang en|ko|ja|zh|ru] [/proxy URL]\n"
     L"  OstrelSetup.exe /?\n"
     L"\n"
     L"  /quiet                   install or update with no window\n"
     L"  /passive                 show only the progress, ask nothing, close at the end\n"
     L"  /accept-terms            accept the terms of service (required with /quiet and /passive)\n"
     L"  /dir PATH                the install folder, a full path\n"
     L"  /lang CODE               the language of the messages and of Ostrel\n"
     L"  /no-desktop-shortcut     no shortcut on the desktop\n"
     L"  /no-start-menu-shortcut  no shortcut in the Start menu\n"
     L"  /launch                  start Ostrel at the end\n"
     L"  /check                   show the installed and the latest version\n"
     L"  /proxy http://HOST:PORT  use this proxy for this run; /proxy direct: none\n"
     L"\n"
     L"Exit codes: 0 installed, updated or already current; 1 failed; 2 bad command line;\n"
     L"3 cancelled; 10 update available; 11 update required.",
     L"Unknown switch: ", L"A value is missing after: ", L"Unknown language (en, ko, ja, zh or ru): ",
     L"Not a usable install folder (a full path is needed): ", L"These switches cannot be used together: ",
     L"This switch needs /quiet or /passive: ",
     L"/quiet and /passive need /accept-terms: the terms of service are never accepted for you.",
     L"Another Ostrel Setup is already running.", L"Installed version: ", L"Latest version: ",
     L"not installed", L"Not a usable proxy (http://host:port or direct): "},
    {L"사용법:\n"
     L"  OstrelSetup.exe /quiet|/passive /accept-terms [/dir PATH] [/lang en|ko|ja|zh|ru]\n"
     L"                  [/no-desktop-shortcut] [/no-start-menu-shortcut] [/launch] [/proxy URL]\n"
     L"  OstrelSetup.exe /check [/lang en|ko|ja|zh|ru] [/proxy URL]\n"
     L"  OstrelSetup.exe /?\n"
     L"\n"
     L"  /quiet                   창 없이 설치 또는 업데이트\n"
     L"  /passive                 진행 상황만 표시하고 묻지 않으며 끝나면 닫힘\n"
     L"  /accept-terms            서비스 약관에 동의 (/quiet 및 /passive에 필수)\n"
     L"  /dir PATH                설치 폴더 (전체 경로)\n"
     L"  /lang CODE               메시지와 Ostrel의 언어\n"
     L"  /no-desktop-shortcut     바탕 화면 바로 가기를 만들지 않음\n"
     L"  /no-start-menu-shortcut  시작 메뉴 바로 가기를 만들지 않음\n"
     L"  /launch                  끝나면 Ostrel 실행\n"
     L"  /check                   설치된 버전과 최신 버전 표시\n"
     L"  /proxy http://HOST:PORT  이번 실행에 이 프록시 사용; /proxy direct: 프록시 없음\n"
     L"\n"
     L"종료 코드: 0 설치, 업데이트 완료 또는 이미 최신; 1 실패; 2 잘못된 명령줄;\n"
     L"3 취소됨; 10 업데이트 있음; 11 필수 업데이트.",
     L"알 수 없는 스위치: ", L"다음 스위치 뒤에 값이 없습니다: ", L"알 수 없는 언어 (en, ko, ja, zh, ru): ",
     L"사용할 수 없는 설치 폴더입니다 (전체 경로 필요): ", L"함께 사용할 수 없는 스위치: ",
     L"이 스위치는 /quiet 또는 /passive와 함께 사용해야 합니다: ",
     L"/quiet 및 /passive에는 /accept-terms가 필요합니다. 서비스 약관은 대신 동의되지 않습니다.",
     L"다른 Ostrel 설치 프로그램이 이미 실행 중입니다.", L"설치된 버전: ", L"최신 버전: ", L"설치되지 않음",
     L"사용할 수 없는 프록시입니다 (http://host:port 또는 direct): "},
    {L"使い方:\n"
     L"  OstrelSetup.exe /quiet|/passive /accept-terms [/dir PATH] [/lang en|ko|ja|zh|ru]\n"
     L"                  [/no-desktop-shortcut] [/no-start-menu-shortcut] [/launch] [/proxy URL]\n"
     L"  OstrelSetup.exe /check [/lang en|ko|ja|zh|ru] [/proxy URL]\n"
     L"  OstrelSetup.exe /?\n"
     L"\n"
     L"  /quiet                   ウィンドウなしでインストールまたは更新\n"
     L"  /passive                 進行状況のみ表示し、確認せず、終了時に閉じる\n"
     L"  /accept-terms            利用規約に同意する (/quiet と /passive では必須)\n"
     L"  /dir PATH                インストール先フォルダー (フルパス)\n"
     L"  /lang CODE               メッセージと Ostrel の言語\n"
     L"  /no-desktop-shortcut     デスクトップにショートカットを作成しない\n"
     L"  /no-start-menu-shortcut  スタートメニューにショートカットを作成しない\n"
     L"  /launch                  終了時に Ostrel を起動\n"
     L"  /check                   インストール済みと最新のバージョンを表示\n"
     L"  /proxy http://HOST:PORT  今回の実行でこのプロキシを使用; /proxy direct: プロキシなし\n"
     L"\n"
     L"終了コード: 0 インストール・更新済み、または最新; 1 失敗; 2 不正なコマンドライン;\n"
     L"3 キャンセル; 10 更新あり; 11 必須の更新。",
     L"不明なスイッチ: ", L"次のスイッチの後に値がありません: ", L"不明な言語 (en, ko, ja, zh, ru): ",
     L"使用できないインストール先フォルダーです (フルパスが必要): ", L"同時に使用できないスイッチ: ",
     L"このスイッチには /quiet または /passive が必要です: ",
     L"/quiet と /passive には /accept-terms が必要です。利用規約が代わりに同意されることはありません。",
     L"別の Ostrel セットアップがすでに実行中です。", L"インストール済みのバージョン: ", L"最新バージョン: ",
     L"未インストール", L"使用できないプロキシです (http://host:port または direct): "},
    {L"用法:\n"
     L"  OstrelSetup.exe /quiet|/passive /accept-terms [/dir PATH] [/lang en|ko|ja|zh|ru]\n"
     L"                  [/no-desktop-shortcut] [/no-start-menu-shortcut] [/launch] [/proxy URL]\n"
     L"  OstrelSetup.exe /check [/lang en|ko|ja|zh|ru] [/proxy URL]\n"
     L"  OstrelSetup.exe /?\n"
     L"\n"
     L"  /quiet                   无窗口安装或更新\n"
     L"  /passive                 仅显示进度，不提问，结束时自动关闭\n"
     L"  /accept-terms            接受服务条款（/quiet 和 /passive 必需）\n"
     L"  /dir PATH                安装文件夹（完整路径）\n"
     L"  /lang CODE               消息和 Ostrel 的语言\n"
     L"  /no-desktop-shortcut     不创建桌面快捷方式\n"
     L"  /no-start-menu-shortcut  不创建开始菜单快捷方式\n"
     L"  /launch                  结束时启动 Ostrel\n"
     L"  /check                   显示已安装的版本和最新版本\n"
     L"  /proxy http://HOST:PORT  本次运行使用此代理；/proxy direct：不使用代理\n"
     L"\n"
     L"退出代码：0 已安装、已更新或已是最新；1 失败；2 命令行错误；\n"
     L"3 已取消；10 有可用更新；11 必需更新。",
     L"未知开关：", L"以下开关后缺少值：", L"未知语言（en、ko、ja、zh 或 ru）：",
     L"无法使用的安装文件夹（需要完整路径）：", L"以下开关不能同时使用：", L"此开关需要 /quiet 或 /passive：",
     L"/quiet 和 /passive 需要 /accept-terms：绝不会替您接受服务条款。", L"另一个 Ostrel 安装程序已在运行。",
     L"已安装的版本：", L"最新版本：", L"未安装", L"无法使用的代理（http://host:port 或 direct）："},
    {L"Использование:\n"
     L"  OstrelSetup.exe /quiet|/passive /accept-terms [/dir PATH] [/lang en|ko|ja|zh|ru]\n"
     L"                  [/no-desktop-shortcut] [/no-start-menu-shortcut] [/launch] [/proxy URL]\n"
     L"  OstrelSetup.exe /check [/lang en|ko|ja|zh|ru] [/proxy URL]\n"
     L"  OstrelSetup.exe /?\n"
     L"\n"
     L"  /quiet                   установка или обновление без окна\n"
     L"  /passive                 только ход установки, без вопросов, закрытие в конце\n"
     L"  /accept-terms            принять условия использования (обязательно с /quiet и /passive)\n"
     L"  /dir PATH                папка установки, полный путь\n"
     L"  /lang CODE               язык сообщений и Ostrel\n"
     L"  /no-desktop-shortcut     без ярлыка на рабочем столе\n"
     L"  /no-start-menu-shortcut  без ярлыка в меню «Пуск»\n"
     L"  /launch                  запустить Ostrel в конце\n"
     L"  /check                   показать установленную и последнюю версии\n"
     L"  /proxy http://HOST:PORT  прокси для этого запуска; /proxy direct: без прокси\n"
     L"\n"
     L"Коды выхода: 0 установлено, обновлено или уже актуально; 1 ошибка; 2 неверная командная строка;\n"
     L"3 отменено; 10 доступно обновление; 11 обязательное обновление.",
     L"Неизвестный ключ: ", L"Не указано значение после ключа: ",
     L"Неизвестный язык (en, ko, ja, zh или ru): ", L"Непригодная папка установки (нужен полный путь): ",
     L"Эти ключи нельзя использовать вместе: ", L"Этот ключ требует /quiet или /passive: ",
     L"Для /quiet и /passive нужен /accept-terms: условия использования никогда не принимаются за вас.",
     L"Другая программа установки Ostrel уже запущена.", L"Установленная версия: ", L"Последняя версия: ",
     L"не установлена", L"Непригодный прокси (http://host:port или direct): "},
};
} // namespace

const CommandLineTexts& commandLineTextsFor(int32_t languageId) {
    return languageId >= 0 && languageId < static_cast<int32_t>(std::size(texts)) ? texts[languageId]
                                                                                  : texts[0];
}
