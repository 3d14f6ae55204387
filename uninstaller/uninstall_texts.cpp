#include "uninstaller/uninstall_texts.h"

#include <array>
#include <vector>

namespace {

struct LanguageTexts {
    const wchar_t* code;
    UninstallTexts texts;
};

const std::array<LanguageTexts, 5> uninstallTexts = {{
    {L"en",
     {
         L"Uninstall Ostrel",
         L"Do you want to remove Ostrel and all of its components from this computer?\n\n{0}",
         L"Ostrel is not installed in this folder. There is nothing to uninstall.\n\n{0}",
         L"Ostrel was removed from your computer.",
         L"Files that Ostrel did not install were left in the folder:\n{0}",
         L"Some parts of Ostrel could not be removed:",
         L"{0} is in use by another program.",
         L"{0} could not be removed: permission denied.",
         L"{0} could not be removed (error {1}).",
         L"The registry key {0} could not be removed (error {1}).",
         L"Close the programs that use these files and run the uninstaller again. Ostrel stays in the "
         L"list of installed programs until it is removed completely.",
         L"These lines of {0} do not name a file inside the install folder and were ignored:",
         L"... and {0} more.",
         L"The file list {0} could not be read (error {1}). Nothing was removed.",
         L"The uninstaller could not be started from the temporary folder (error {0}). Nothing was removed.",
         L"Unknown command line. Run the uninstaller without arguments, or with /quiet.",
     }},
    {L"ko",
     {
         L"Ostrel 제거",
         L"이 컴퓨터에서 Ostrel과 모든 구성 요소를 제거하시겠습니까?\n\n{0}",
         L"이 폴더에 Ostrel이 설치되어 있지 않습니다. 제거할 항목이 없습니다.\n\n{0}",
         L"Ostrel이 컴퓨터에서 제거되었습니다.",
         L"Ostrel이 설치하지 않은 파일은 다음 폴더에 남아 있습니다:\n{0}",
         L"Ostrel의 일부를 제거하지 못했습니다:",
         L"{0} 파일을 다른 프로그램이 사용하고 있습니다.",
         L"{0}을(를) 제거하지 못했습니다: 권한이 없습니다.",
         L"{0}을(를) 제거하지 못했습니다(오류 {1}).",
         L"레지스트리 키 {0}을(를) 제거하지 못했습니다(오류 {1}).",
         L"이 파일을 사용하는 프로그램을 닫고 제거 프로그램을 다시 실행하십시오. 완전히 제거될 때까지 "
         L"Ostrel은 설치된 프로그램 목록에 남아 있습니다.",
         L"{0}의 다음 줄은 설치 폴더 안의 파일을 가리키지 않으므로 무시되었습니다:",
         L"... 외 {0}개.",
         L"파일 목록 {0}을(를) 읽지 못했습니다(오류 {1}). 아무것도 제거되지 않았습니다.",
         L"임시 폴더에서 제거 프로그램을 시작하지 못했습니다(오류 {0}). 아무것도 제거되지 않았습니다.",
         L"알 수 없는 명령줄입니다. 제거 프로그램을 인수 없이 또는 /quiet와 함께 실행하십시오.",
     }},
    {L"ja",
     {
         L"Ostrel のアンインストール",
         L"Ostrel とそのすべてのコンポーネントをこのコンピューターから削除しますか？\n\n{0}",
         L"このフォルダーには Ostrel "
         L"がインストールされていません。アンインストールするものはありません。\n\n{0}",
         L"Ostrel はコンピューターから削除されました。",
         L"Ostrel がインストールしなかったファイルは次のフォルダーに残されています:\n{0}",
         L"Ostrel の一部を削除できませんでした:",
         L"{0} は別のプログラムで使用中です。",
         L"{0} を削除できませんでした: アクセス権がありません。",
         L"{0} を削除できませんでした (エラー {1})。",
         L"レジストリ キー {0} を削除できませんでした (エラー {1})。",
         L"これらのファイルを使用しているプログラムを閉じてから、アンインストーラーをもう一度実行してください"
         L"。"
         L"完全に削除されるまで、Ostrel はインストールされているプログラムの一覧に残ります。",
         L"{0} の次の行はインストール フォルダー内のファイルを示していないため、無視されました:",
         L"... ほか {0} 件。",
         L"ファイル一覧 {0} を読み取れませんでした (エラー {1})。何も削除されていません。",
         L"一時フォルダーからアンインストーラーを起動できませんでした (エラー {0})。何も削除されていません。",
         L"不明なコマンド ラインです。アンインストーラーは引数なし、または /quiet を付けて実行してください。",
     }},
    {L"zh",
     {
         L"卸载 Ostrel",
         L"是否要从此计算机中删除 Ostrel 及其所有组件？\n\n{0}",
         L"此文件夹中未安装 Ostrel，没有需要卸载的内容。\n\n{0}",
         L"Ostrel 已从您的计算机中删除。",
         L"不是由 Ostrel 安装的文件保留在以下文件夹中：\n{0}",
         L"Ostrel 的某些部分无法删除：",
         L"{0} 正被其他程序使用。",
         L"无法删除 {0}：权限不足。",
         L"无法删除 {0}（错误 {1}）。",
         L"无法删除注册表项 {0}（错误 {1}）。",
         L"请关闭正在使用这些文件的程序，然后再次运行卸载程序。在完全删除之前，Ostrel "
         L"会保留在已安装程序列表中。",
         L"{0} 中的以下行未指向安装文件夹内的文件，已被忽略：",
         L"... 以及另外 {0} 项。",
         L"无法读取文件列表 {0}（错误 {1}）。未删除任何内容。",
         L"无法从临时文件夹启动卸载程序（错误 {0}）。未删除任何内容。",
         L"未知的命令行。请不带参数或使用 /quiet 运行卸载程序。",
     }},
    {L"ru",
     {
         L"Удаление Ostrel",
         L"Удалить Ostrel и все его компоненты с этого компьютера?\n\n{0}",
         L"Ostrel не установлен в этой папке. Удалять нечего.\n\n{0}",
         L"Ostrel удалён с вашего компьютера.",
         L"Файлы, которые не устанавливал Ostrel, оставлены в папке:\n{0}",
         L"Не удалось удалить некоторые части Ostrel:",
         L"{0} используется другой программой.",
         L"Не удалось удалить {0}: нет прав доступа.",
         L"Не удалось удалить {0} (ошибка {1}).",
         L"Не удалось удалить раздел реестра {0} (ошибка {1}).",
         L"Закройте программы, которые используют эти файлы, и снова запустите программу удаления. Ostrel "
         L"остаётся в списке установленных программ, пока не будет удалён полностью.",
         L"Эти строки файла {0} не указывают на файл в папке установки и были пропущены:",
         L"... и ещё {0}.",
         L"Не удалось прочитать список файлов {0} (ошибка {1}). Ничего не удалено.",
         L"Не удалось запустить программу удаления из временной папки (ошибка {0}). Ничего не удалено.",
         L"Неизвестная командная строка. Запустите программу удаления без аргументов или с ключом /quiet.",
     }},
}};

} // namespace

const UninstallTexts& textsForLanguage(std::wstring_view code) {
    for (const LanguageTexts& language : uninstallTexts)
        if (code == language.code)
            return language.texts;
    return uninstallTexts[0].texts;
}

std::wstring fillText(std::wstring_view pattern, std::initializer_list<std::wstring_view> arguments) {
    const std::vector<std::wstring_view> values(arguments);
    std::wstring result;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == L'{' && i + 2 < pattern.size() && pattern[i + 2] == L'}' &&
            pattern[i + 1] >= L'0' && pattern[i + 1] <= L'9' &&
            static_cast<size_t>(pattern[i + 1] - L'0') < values.size()) {
            result += values[static_cast<size_t>(pattern[i + 1] - L'0')];
            i += 2;
            continue;
        }
        result += pattern[i];
    }
    return result;
}
