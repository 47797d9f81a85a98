#include "level/formats/godot/godot_resource.h"

namespace
{

// The end of a quoted string starting at i (at its '"'), or -1 when it never ends.
qsizetype stringEnd(QByteArrayView text, qsizetype i)
{
    // A layer's cells are one long string: its end is found by memchr, not byte by byte.
    for (qsizetype from = i + 1;;) {
        const qsizetype quote = text.indexOf('"', from);
        if (quote < 0)
            return -1;
        qsizetype escapes = 0;
        while (quote - escapes - 1 > i && text[quote - escapes - 1] == '\\')
            ++escapes;
        if (escapes % 2 == 0)
            return quote + 1;
        from = quote + 1;
    }
}

// The end of a value starting at i: the end of its line once every bracket opened is closed, or
// where stop (outside brackets and strings) stands. -1 when a string or a bracket never ends.
qsizetype valueEnd(QByteArrayView text, qsizetype i, bool header)
{
    int depth = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            i = stringEnd(text, i);
            if (i < 0)
                return -1;
            continue;
        }
        if (c == '(' || c == '[' || c == '{')
            ++depth;
        else if (c == ')' || c == ']' || c == '}') {
            if (depth == 0)
                return header ? i : -1;
            --depth;
        } else if (depth == 0 && (c == '\n' || (header && isBlank(c))))
            return i;
        ++i;
    }
    return depth == 0 ? i : -1;
}

qsizetype trimmedEnd(QByteArrayView text, qsizetype begin, qsizetype end)
{
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return end;
}

} // namespace

QByteArray unquoted(QByteArrayView text)
{
    if (text.size() < 2 || text.front() != '"' || text.back() != '"')
        return text.toByteArray();
    const QByteArrayView inside = text.sliced(1, text.size() - 2);
    if (!inside.contains('\\'))
        return inside.toByteArray(); // a long base64 text has no escapes
    QByteArray plain;
    plain.reserve(text.size());
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 2 < text.size()) {
            c = text[++i];
            c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        }
        plain += c;
    }
    return plain;
}

QByteArray GodotSection::attribute(QByteArrayView name) const
{
    for (const auto& [key, value] : attributes)
        if (key == name)
            return value;
    return {};
}

const GodotProperty* GodotSection::property(QByteArrayView key) const
{
    for (const GodotProperty& property : properties)
        if (property.key == key)
            return &property;
    return nullptr;
}

QString GodotSection::label() const
{
    const QByteArray name = tag == "node" ? attribute("name") : attribute("id");
    if (name.isEmpty())
        return QString::fromUtf8(tag);
    return QStringLiteral("%1 “%2”").arg(QString::fromUtf8(tag), QString::fromUtf8(name));
}

// Reads the section header at i (its '['), its tag and attributes, and leaves i after its ']'.
static bool readHeader(QByteArrayView text, qsizetype& i, GodotSection& section, Problem& problem)
{
    auto fail = [&](qsizetype at, const QString& why) {
        problem = {at, QString(), why};
        return false;
    };
    section.header.begin = i;
    ++i;
    const qsizetype tagBegin = i;
    while (i < text.size() && !isBlank(text[i]) && text[i] != ']')
        ++i;
    section.tag = text.sliced(tagBegin, i - tagBegin).toByteArray();
    for (;;) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i >= text.size())
            return fail(section.header.begin, QStringLiteral("a section header never ends"));
        if (text[i] == ']')
            return true;
        const qsizetype nameBegin = i;
        while (i < text.size() && text[i] != '=' && text[i] != ']' && !isBlank(text[i]))
            ++i;
        if (i >= text.size() || text[i] != '=')
            return fail(nameBegin, QStringLiteral("a section attribute has no value"));
        const QByteArray name = text.sliced(nameBegin, i - nameBegin).toByteArray();
        const qsizetype valueBegin = ++i;
        const qsizetype end = valueEnd(text, i, true);
        if (end < 0)
            return fail(valueBegin, QStringLiteral("a section attribute never ends"));
        section.attributes.emplace_back(name, unquoted(text.sliced(valueBegin, end - valueBegin)));
        i = end;
    }
}

// Reads the property whose line begins at i, and leaves i after its line.
static bool readProperty(QByteArrayView text, qsizetype& i, GodotProperty& property,
                         Problem& problem)
{
    const qsizetype lineBegin = i;
    auto fail = [&](qsizetype at, const QString& why) {
        problem = {at, QString(), why};
        return false;
    };
    property.keySpan.begin = i;
    if (text[i] == '"') {
        i = stringEnd(text, i);
        if (i < 0)
            return fail(lineBegin, QStringLiteral("a property's name never ends"));
        property.key = unquoted(text.sliced(property.keySpan.begin, i - property.keySpan.begin));
    } else {
        while (i < text.size() && text[i] != '=' && !isBlank(text[i]))
            ++i;
        property.key =
            text.sliced(property.keySpan.begin, i - property.keySpan.begin).toByteArray();
    }
    property.keySpan.end = i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i >= text.size() || text[i] != '=' || property.key.isEmpty())
        return fail(lineBegin, QStringLiteral("a line is neither a section nor a property"));
    ++i;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const qsizetype end = valueEnd(text, i, false);
    if (end < 0)
        return fail(i, QStringLiteral("the value of “%1” never ends")
                           .arg(QString::fromUtf8(property.key)));
    property.value = {i, trimmedEnd(text, i, end)};
    i = end < text.size() ? end + 1 : end;
    property.line = {lineBegin, i};
    return true;
}

// The first section says what the file is and which format it is written in.
static bool checkFirst(const GodotSection& section, int& format, Problem& problem)
{
    auto fail = [&](const QString& why) {
        problem = {section.header.begin, QString(), why};
        return false;
    };
    if (section.tag != "gd_scene" && section.tag != "gd_resource")
        return fail(QStringLiteral("it is neither a Godot scene nor a Godot resource"));
    const QByteArray written = section.attribute("format");
    format = written.toInt();
    if (format != 3 && format != 4)
        return fail(QStringLiteral("its format %1 is not Godot 4's (3 or 4)")
                        .arg(QString::fromUtf8(written)));
    return true;
}

bool GodotResource::read(QByteArrayView text, Problem& problem)
{
    sections.clear();
    byId_.clear();
    qsizetype i = text.startsWith("\xef\xbb\xbf") ? 3 : 0;
    auto fail = [&](qsizetype at, const QString& why) {
        problem = {at, QString(), why};
        return false;
    };
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i >= text.size())
            break;
        if (text[i] == ';') { // a comment, to the end of its line
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        if (text[i] == '[') {
            GodotSection section;
            if (!readHeader(text, i, section, problem))
                return false;
            section.header.end = ++i;
            section.whole = {section.header.begin, i};
            if (sections.empty() && !checkFirst(section, format, problem))
                return false;
            sections.push_back(std::move(section));
            continue;
        }
        if (sections.empty())
            return fail(i, QStringLiteral("it is neither a Godot scene nor a Godot resource"));
        GodotProperty property;
        if (!readProperty(text, i, property, problem)) {
            problem.where = sections.back().label();
            return false;
        }
        GodotSection& section = sections.back();
        section.whole.end = i;
        section.properties.push_back(std::move(property));
    }
    if (sections.empty())
        return fail(0, QStringLiteral("it is neither a Godot scene nor a Godot resource"));
    for (size_t s = 0; s < sections.size(); ++s)
        byId_.emplace(sections[s].tag + ' ' + sections[s].attribute("id"), s);
    return true;
}

const GodotSection* GodotResource::section(QByteArrayView tag, QByteArrayView id) const
{
    const auto found = byId_.find(tag.toByteArray() + ' ' + id.toByteArray());
    return found == byId_.end() ? nullptr : &sections[found->second];
}

std::optional<Span> callArguments(QByteArrayView value, QByteArrayView call)
{
    if (!value.startsWith(call) || value.size() < call.size() + 2 || value[call.size()] != '(' ||
        value.back() != ')')
        return std::nullopt;
    return Span{call.size() + 1, value.size() - 1};
}

std::optional<QByteArray> resourceRef(QByteArrayView value, QByteArrayView call)
{
    const std::optional<Span> inside = callArguments(value, call);
    if (!inside)
        return std::nullopt;
    QByteArrayView id = value.sliced(inside->begin, inside->size()).trimmed();
    return unquoted(id);
}

std::optional<int64_t> readWhole(QByteArrayView value)
{
    int64_t number = 0;
    if (!parseWholeNumber(value.trimmed(), true, number))
        return std::nullopt;
    return number;
}

std::optional<GodotPair> readVector2i(QByteArrayView value)
{
    const std::optional<Span> inside = callArguments(value, "Vector2i");
    if (!inside)
        return std::nullopt;
    const qsizetype comma = value.indexOf(',', inside->begin);
    if (comma < 0 || comma >= inside->end)
        return std::nullopt;
    auto number = [&](qsizetype begin, qsizetype end, int64_t& target, Span& span) {
        while (begin < end && isBlank(value[begin]))
            ++begin;
        end = trimmedEnd(value, begin, end);
        span = {begin, end};
        const std::optional<int64_t> read = readWhole(value.sliced(begin, end - begin));
        target = read.value_or(0);
        return read.has_value();
    };
    GodotPair pair;
    if (!number(inside->begin, comma, pair.x, pair.xSpan) ||
        !number(comma + 1, inside->end, pair.y, pair.ySpan))
        return std::nullopt;
    return pair;
}
