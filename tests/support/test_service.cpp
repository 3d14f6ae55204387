#include "tests/support/test_service.h"

#include "net/download.h"
#include "test_build_dir.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace {
// Reads the one shape the service writes: an object of strings and objects of strings.
class RecordReader {
  public:
    explicit RecordReader(const std::string& text) : text_(text) {}

    std::optional<RecordedRequest> request() {
        RecordedRequest parsed;
        bool ok = object([&](const std::string& key) {
            if (key == "headers")
                return object([&](const std::string& name) {
                    std::optional<std::string> value = string();
                    if (value)
                        parsed.headers[name] = *value;
                    return value.has_value();
                });
            std::optional<std::string> value = string();
            if (!value)
                return false;
            if (key == "method")
                parsed.method = *value;
            else if (key == "path")
                parsed.path = *value;
            else if (key == "body")
                parsed.body = *value;
            return true;
        });
        if (!ok)
            return std::nullopt;
        return parsed;
    }

  private:
    const std::string& text_;
    size_t at_ = 0;

    bool take(char wanted) {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t'))
            ++at_;
        if (at_ < text_.size() && text_[at_] == wanted) {
            ++at_;
            return true;
        }
        return false;
    }

    template <typename Member> bool object(Member member) {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            std::optional<std::string> key = string();
            if (!key || !take(':') || !member(*key))
                return false;
        } while (take(','));
        return take('}');
    }

    bool hex4(uint32_t& code) {
        if (at_ + 4 > text_.size())
            return false;
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char digit = text_[at_++];
            code <<= 4;
            if (digit >= '0' && digit <= '9')
                code |= static_cast<uint32_t>(digit - '0');
            else if (digit >= 'a' && digit <= 'f')
                code |= static_cast<uint32_t>(digit - 'a' + 10);
            else if (digit >= 'A' && digit <= 'F')
                code |= static_cast<uint32_t>(digit - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    static void appendUtf8(std::string& out, uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::optional<std::string> string() {
        if (!take('"'))
            return std::nullopt;
        std::string value;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return value;
            if (c != '\\') {
                value += c;
                continue;
            }
            if (at_ >= text_.size())
                return std::nullopt;
            const char escaped = text_[at_++];
            static constexpr char plain[] = "\"\\/bfnrt";
            static constexpr char meant[] = "\"\\/\b\f\n\r\t";
            if (const char* found = std::char_traits<char>::find(plain, 8, escaped)) {
                value += meant[found - plain];
                continue;
            }
            uint32_t code = 0;
            if (escaped != 'u' || !hex4(code))
                return std::nullopt;
            uint32_t low = 0;
            if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
                at_ += 2;
                if (!hex4(low))
                    return std::nullopt;
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(value, code);
        }
        return std::nullopt;
    }
};

std::wstring rootFile(const wchar_t* name) {
    return serviceRootPath() + L"\\" + name;
}

void writeFile(const std::wstring& path, const std::string& content) {
    std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::trunc) << content;
}
} // namespace

std::wstring serviceRootPath() {
    return std::wstring(testBuildDir) + L"\\service-root";
}

std::wstring packagePath(const std::wstring& name) {
    return serviceRootPath() + L"\\packages\\" + name;
}

std::wstring packageUrl(const std::wstring& name) {
    return serviceOrigin() + L"packages/" + name;
}

void clearRecordedRequests() {
    DeleteFileW(rootFile(L"requests.jsonl").c_str());
}

std::vector<RecordedRequest> recordedRequests() {
    std::vector<RecordedRequest> requests;
    std::ifstream in(std::filesystem::path(rootFile(L"requests.jsonl")), std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        if (std::optional<RecordedRequest> request = RecordReader(line).request())
            requests.push_back(std::move(*request));
    return requests;
}

void setLatestAnswer(const std::string& body, int status) {
    writeFile(rootFile(L"latest.status"), std::to_string(status));
    writeFile(rootFile(L"latest.json"), body);
}

void clearLatestAnswer() {
    DeleteFileW(rootFile(L"latest.status").c_str());
    DeleteFileW(rootFile(L"latest.json").c_str());
}

void setDeltaAnswer(const std::string& body) {
    writeFile(rootFile(L"delta.json"), body);
}

void clearDeltaAnswer() {
    DeleteFileW(rootFile(L"delta.json").c_str());
}

void useServiceCertificate(const std::string& name) {
    if (name.empty())
        DeleteFileW(rootFile(L"certificate").c_str());
    else
        writeFile(rootFile(L"certificate"), name);
}
