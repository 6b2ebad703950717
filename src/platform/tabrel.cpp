#include "platform/tabrel.h"

#include <optional>

#include "platform/bounded_file.h"
#include "platform/number_text.h"

namespace quarvel::detail {
namespace {

// Names from a UTF-8 file are stored in GBK; a name with a character GBK
// lacks cannot be asked for and is dropped.
std::optional<std::string> StoredName(std::string_view name, TextEncoding encoding) {
    if (encoding != TextEncoding::Gbk) {
        return Utf8ToGbk(name);
    }
    return std::string(name);
}

// Stores the parsed text in `value` only when there is text and it parses.
template <typename T>
bool ReadParsed(const std::string* text, std::optional<T> (*parse)(std::string_view) noexcept, T& value) {
    if (text == nullptr) {
        return false;
    }
    const std::optional<T> parsed = parse(*text);
    if (!parsed) {
        return false;
    }
    value = *parsed;
    return true;
}

}  // namespace

std::unique_ptr<CTabrel> CTabrel::Open(const char* path) {
    std::optional<std::string> bytes = ReadBoundedRegularFile(path, kMaxFileSize);
    if (!bytes) {
        return nullptr;
    }
    return std::make_unique<CTabrel>(*bytes);
}

CTabrel::CTabrel(std::string_view contents) {
    const bool littleEndian = contents.substr(0, 2) == std::string_view("\xFF\xFE", 2);
    const bool bigEndian = contents.substr(0, 2) == std::string_view("\xFE\xFF", 2);
    if (littleEndian || bigEndian) {
        encoding_ = bigEndian ? TextEncoding::Utf16BE : TextEncoding::Utf16LE;
        const std::optional<std::string> utf8 = Utf16ToUtf8(contents.substr(2), bigEndian);
        if (utf8) {
            Parse(*utf8);
        }
        return;
    }
    if (contents.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        encoding_ = TextEncoding::Utf8;
        contents.remove_prefix(kUtf8Bom.size());
    } else if (IsValidUtf8(contents)) {
        encoding_ = TextEncoding::Utf8;
    }
    Parse(contents);
}

void CTabrel::Parse(std::string_view text) {
    std::optional<std::string> section;  // none before the first header
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = TrimBlanks(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            // The last ']' closes the header: in GBK, ']' (0x5D) can also be
            // the second byte of a two-byte character inside the name.
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos || close == 0) {
                section.reset();  // a broken header: its entries belong nowhere
                continue;
            }
            section = StoredName(TrimBlanks(line.substr(1, close - 1)), encoding_);
            continue;
        }
        // '=' (0x3D) is never part of a GBK two-byte character.
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || !section) {
            continue;
        }
        std::optional<std::string> key = StoredName(TrimBlanks(line.substr(0, equals)), encoding_);
        if (!key) {
            continue;
        }
        entries_.emplace(std::make_pair(*section, std::move(*key)), std::string(TrimBlanks(line.substr(equals + 1))));
    }
}

std::vector<std::pair<std::string, std::string>> CTabrel::Names() const {
    std::vector<std::pair<std::string, std::string>> names;
    names.reserve(entries_.size());
    for (const auto& entry : entries_) {
        names.push_back(entry.first);
    }
    return names;
}

const std::string* CTabrel::Find(const char* section, const char* key) const {
    if (section == nullptr || key == nullptr) {
        return nullptr;
    }
    const auto it = entries_.find(NameView(section, key));
    return it == entries_.end() ? nullptr : &it->second;
}

bool CTabrel::GetInt(const char* section, const char* key, int& value) const {
    return ReadParsed(Find(section, key), &ParseInt32, value);
}

bool CTabrel::GetFloat(const char* section, const char* key, float& value) const {
    return ReadParsed(Find(section, key), &ParseFloat, value);
}

}  // namespace quarvel::detail
