#ifndef QUARVEL_SRC_PLATFORM_TABREL_H
#define QUARVEL_SRC_PLATFORM_TABREL_H

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text_encoding.h"

namespace quarvel::detail {

// The configuration reader: an INI file held in memory, looked up by
// section and key names given as NUL-terminated GBK byte strings.
//
// Syntax: "[section]" headers and "key=value" lines; whitespace around
// names and values is trimmed; lines whose first non-blank character is ';'
// or '#' are comments; LF or CRLF line ends, no final newline needed. The
// first occurrence of a key in a section wins (a section named twice adds
// to the first). Entries before the first header belong to no section.
//
// The encoding is found in this order: a UTF-16 byte-order mark (FF FE
// little-endian, FE FF big-endian), the UTF-8 byte-order mark, bytes that
// are all valid UTF-8, else GBK. UTF-16 and UTF-8 files have their names
// converted to GBK, so they load the same as the file saved in GBK; a GBK
// file's names are compared byte for byte. A UTF-16 file that does not
// convert as a whole holds no entries.
class CTabrel {
public:
    // Parameter files are a few hundred bytes; anything larger is refused.
    static constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

    // A reader over the file at `path`, or null when the path is null or
    // empty or does not name a readable regular file of at most
    // kMaxFileSize bytes.
    static std::unique_ptr<CTabrel> Open(const char* path);

    // A reader over file contents already in memory.
    explicit CTabrel(std::string_view contents);

    // Read a value. When the section or key is missing, or its text is not a
    // number of the asked type, `value` is left untouched and false returned.
    bool GetInt(const char* section, const char* key, int& value) const;
    bool GetFloat(const char* section, const char* key, float& value) const;

    // The trimmed value text of a key, or null when the file lacks it.
    const std::string* Find(const char* section, const char* key) const;

    TextEncoding encoding() const noexcept { return encoding_; }

    // Every (section, key) the file holds, as stored (GBK), in name order.
    std::vector<std::pair<std::string, std::string>> Names() const;

private:
    using Name = std::pair<std::string, std::string>;  // (section, key)
    using NameView = std::pair<std::string_view, std::string_view>;

    // Orders names and lets a lookup use views, so that reading a value
    // never allocates.
    struct NameLess {
        using is_transparent = void;
        static NameView View(const Name& n) noexcept { return {n.first, n.second}; }
        static NameView View(const NameView& n) noexcept { return n; }
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const noexcept {
            return View(a) < View(b);
        }
    };

    void Parse(std::string_view text);

    TextEncoding encoding_ = TextEncoding::Gbk;
    std::map<Name, std::string, NameLess> entries_;
};

}  // namespace quarvel::detail

#endif
