#include "config_file.h"

#include <fstream>
#include <sstream>

namespace quarvel::cli {

std::optional<std::string> SplitConfig(const std::string& text, std::deque<std::string>& words) {
    int line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n') {
                ++i;
            }
        } else {
            std::string word;
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') {
                if (text[i] == '"' || text[i] == '\'') {
                    const char quote = text[i];
                    const std::size_t close = text.find(quote, i + 1);
                    if (close == std::string::npos || text.find('\n', i + 1) < close) {
                        return "line " + std::to_string(line) + ": a " + (quote == '"' ? "\"" : "'") +
                               " that is not closed on its line";
                    }
                    word.append(text, i + 1, close - i - 1);
                    i = close + 1;
                } else {
                    word += text[i++];
                }
            }
            words.push_back(std::move(word));
        }
    }
    return std::nullopt;
}

std::optional<std::string> ExpandConfig(const Args& args, ExpandedArgs& out, std::vector<std::string>* files) {
    out.args.clear();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--") {
            out.args.insert(out.args.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        std::string path;
        if (a == "--config") {
            if (i + 1 >= args.size()) {
                return std::string("--config needs a FILE");
            }
            path = std::string(args[++i]);
        } else if (a.substr(0, 9) == "--config=") {
            path = std::string(a.substr(9));
        } else {
            out.args.push_back(a);
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        if (!in) {
            return "cannot read the config file '" + path + "'";
        }
        if (in.peek() != std::ifstream::traits_type::eof() && !(text << in.rdbuf())) {
            return "cannot read the config file '" + path + "'";
        }
        std::deque<std::string> words;
        if (const auto error = SplitConfig(text.str(), words)) {
            return "config file '" + path + "', " + *error;
        }
        for (const std::string& w : words) {
            if (w == "--config" || w.rfind("--config=", 0) == 0) {
                return "config file '" + path + "' names another config file: one is read, not a chain";
            }
        }
        if (files != nullptr) {
            files->push_back(path);
        }
        for (std::string& w : words) {
            out.words.push_back(std::move(w));
            out.args.push_back(out.words.back());
        }
    }
    return std::nullopt;
}

}  // namespace quarvel::cli
