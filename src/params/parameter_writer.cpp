// Writing a parameter file from parameter values.

#include <quarvel/parameter_file.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "numeric/arithmetic.h"
#include "params/lens_section.h"
#include "params/param_table.h"
#include "platform/text_encoding.h"

namespace quarvel {
namespace {

// The text of one entry's value, as a load reads it back.
std::string ValueText(const CalibrationParams& p, const detail::ParamEntry& e, int& normalIndex) {
    using detail::ParamTarget;
    using detail::ShortestText;
    switch (e.target) {
        case ParamTarget::ImageWidth: return std::to_string(p.imageWidth);
        case ParamTarget::ImageHeight: return std::to_string(p.imageHeight);
        case ParamTarget::FocalZ: return ShortestText(p.focalZ);
        case ParamTarget::MapTop: return ShortestText(p.mapTop);
        case ParamTarget::MapBottom: return ShortestText(p.mapBottom);
        case ParamTarget::KeyStoneOriginX: return ShortestText(p.keyStoneOriginX);
        case ParamTarget::KeyStoneOriginY: return ShortestText(p.keyStoneOriginY);
        case ParamTarget::PlaneNormal: return ShortestText(p.planeNormal[normalIndex++ % 3]);
        case ParamTarget::RotateAngle: return ShortestText(p.rotateAngle);
        case ParamTarget::ShearX: return ShortestText(p.shearX);
        case ParamTarget::MatrixElement: break;
    }
    return ShortestText(p.matrix(e.row, e.column));
}

// The file's text in GBK (names as the table holds them).
std::string GbkText(const CalibrationParams& p) {
    std::string text = "; written by quarvel calibrate\r\n";
    const char* section = nullptr;
    int normalIndex = 0;
    for (const detail::ParamEntry& e : detail::ParamTable()) {
        if (section == nullptr || std::strcmp(section, e.section) != 0) {
            text += std::string(section == nullptr ? "" : "\r\n") + "[" + e.section + "]\r\n";
            section = e.section;
        }
        text += std::string(e.key) + "=" + ValueText(p, e, normalIndex) + "\r\n";
    }
    text += detail::LensSectionText(p.lens);
    if (p.displayWidth > 0 && p.displayHeight > 0) {
        text += std::string("\r\n[") + detail::kOwnSection + "]\r\n" + detail::kCalibratedDisplayKey + "=" +
                std::to_string(p.displayWidth) + "x" + std::to_string(p.displayHeight) + "\r\n";
    }
    return text;
}

}  // namespace

Result WriteParameterFile(const std::string& path, const CalibrationParams& params, bool utf8) {
    try {
        std::string text = GbkText(params);
        if (utf8) {
            std::optional<std::string> converted = detail::GbkToUtf8(text);
            if (!converted) {
                return Result::Failed("cannot convert the names to UTF-8");
            }
            text = std::move(*converted);
        }
        std::string temporary = path + ".XXXXXX";
        const int fd = mkstemp(temporary.data());
        if (fd < 0) {
            return Result::Failed("cannot create a file beside '" + path + "': " + std::strerror(errno));
        }
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = write(fd, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                const int saved = errno;
                close(fd);
                unlink(temporary.c_str());
                return Result::Failed("cannot write '" + path + "': " + std::strerror(saved));
            }
            written += static_cast<std::size_t>(n);
        }
        // The file is readable like one an editor saves, not only by us.
        fchmod(fd, 0644);
        if (close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
            const int saved = errno;
            unlink(temporary.c_str());
            return Result::Failed("cannot write '" + path + "': " + std::strerror(saved));
        }
        return Result();
    } catch (...) {
        return Result::Failed("out of memory");
    }
}

}  // namespace quarvel
