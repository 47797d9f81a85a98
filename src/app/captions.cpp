#include "app/captions.h"

namespace {
// "Tilegrid - tile sheet grid and map tool", scrambled.
constexpr char16_t kStoredTitle[] = u"Wlohjulg#0#wloh#vkhhw#julg#dqg#pds#wrro";
// The title, a line break and the version line, scrambled.
constexpr char16_t kStoredAbout[] =
    u"Wlohjulg#0#wloh#vkhhw#julg#dqg#pds#wrro\rYhuvlrq#3141#Vzds/#vdyh/#uhvwruh1";
}  // namespace

QString unscrambleCaption(const QString& scrambled)
{
    QString result;
    result.reserve(scrambled.size());
    for (QChar c : scrambled) {
        const char16_t d = char16_t(c.unicode() - 3);  // wraps modulo 65536
        if (d != 0)
            result.append(QChar(d));
    }
    return result;
}

QString windowTitleText()
{
    return unscrambleCaption(QString::fromUtf16(kStoredTitle));
}

QString aboutText()
{
    return unscrambleCaption(QString::fromUtf16(kStoredAbout));
}
