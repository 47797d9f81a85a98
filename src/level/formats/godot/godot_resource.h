#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "document/problem.h"
#include "level/text_splice.h"

// A Godot text resource (.tscn, .tres) as sections of properties, each with its place in the
// text, so that only the values that change are written again.
struct GodotProperty {
    QByteArray key; // as read, quotes taken off
    Span keySpan;   // the key as written
    Span value;     // the value's text, from its first character to its last
    Span line;      // the whole line or lines, their end of line included
};

struct GodotSection {
    QByteArray tag; // "ext_resource", "sub_resource", "node", "resource", "gd_scene", ...
    Span header;    // from '[' to ']'
    Span whole;     // the header and its properties, up to the next header
    std::vector<std::pair<QByteArray, QByteArray>> attributes; // name, value (quotes taken off)
    std::vector<GodotProperty> properties;

    QByteArray attribute(QByteArrayView name) const;
    const GodotProperty* property(QByteArrayView key) const;
    // "sub_resource “TileSet_abc”", "node “Ground”", for messages.
    QString label() const;
};

struct GodotResource {
    std::vector<GodotSection> sections;
    int format = 0; // the header's format=

    // Reads the whole text; false with problem when it is no Godot text resource.
    bool read(QByteArrayView text, Problem& problem);
    const GodotSection* section(QByteArrayView tag, QByteArrayView id) const;

  private:
    std::map<QByteArray, size_t> byId_; // "tag id" -> its section
};

// Values as the text writes them.
// The id inside ExtResource("id") or SubResource("id") when value is that call.
std::optional<QByteArray> resourceRef(QByteArrayView value, QByteArrayView call);
// The two whole numbers of Vector2i(a, b), with their places relative to value's start.
struct GodotPair {
    int64_t x = 0;
    int64_t y = 0;
    Span xSpan;
    Span ySpan;
};
std::optional<GodotPair> readVector2i(QByteArrayView value);
// A whole number (maybe signed).
std::optional<int64_t> readWhole(QByteArrayView value);
// The inside of Call(...) for the call named, with its place relative to value's start.
std::optional<Span> callArguments(QByteArrayView value, QByteArrayView call);
// A string's text without its quotes and escapes.
QByteArray unquoted(QByteArrayView text);
