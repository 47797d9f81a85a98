// File names as a user types or drops them: any UTF-8 and any UTF-16, including broken surrogates,
// blanks, quotes and separators. The extension must be a clean piece of the path's end, and adding
// a missing extension must only ever append the suffix.
#include <QString>
#include <cstddef>
#include <cstdint>

#include "document/path_extension.h"
#include "fuzz_check.h"

namespace {

void checkPath(const QString& path)
{
    const QString extension = pathExtension(path);
    for (const QChar c : extension)
        FUZZ_CHECK(c != u'.' && c != u'/' && c != u'\\' && c != u' ' && c != u'"');
    if (!extension.isEmpty()) {
        FUZZ_CHECK(path.contains(QLatin1Char('.') + extension));
    }

    static const QString kUpper[] = {QStringLiteral("PNG"), QStringLiteral("BMP"),
                                     QStringLiteral("ZEKO-MAP")};
    static const QString kSuffix[] = {QStringLiteral(".png"), QStringLiteral(".bmp"),
                                      QStringLiteral(".zeko-map")};
    for (int i = 0; i < 3; ++i) {
        const QString named = withExtension(path, kUpper[i], kSuffix[i]);
        const bool hasIt = pathExtension(path.toUpper()) == kUpper[i];
        FUZZ_CHECK(named == (hasIt ? path : path + kSuffix[i]));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkPath(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = char16_t(data[2 * i] | (data[2 * i + 1] << 8));
    checkPath(QString::fromUtf16(units.data(), qsizetype(units.size())));
    return 0;
}
