#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <vector>

// A range of bytes in a file's text: [begin, end). Invalid (begin < 0) when absent.
struct Span {
    qsizetype begin = -1;
    qsizetype end = -1;
    bool valid() const { return begin >= 0; }
    qsizetype size() const { return end - begin; }
};

// Replacements of ranges of a text, collected in any order and applied at once; every byte that no
// replacement touches is copied as it stood. Replacements must not overlap.
class TextSplice
{
  public:
    void replace(Span span, QByteArrayView text);
    // The same for a long text that is not copied but kept as it is given.
    enum TakeText { Take };
    void replace(Span span, QByteArray text, TakeText);
    void replaceNumber(Span span, int64_t value);
    void insert(qsizetype at, QByteArrayView text) { replace({at, at}, text); }

    bool isEmpty() const { return edits_.empty(); }
    QByteArray apply(QByteArrayView original) const;
    // The text of span once the replacements inside it are made (those outside are not).
    QByteArray applyWithin(QByteArrayView original, Span span) const;
    // Forgets the replacements inside span, whose text is to be replaced whole.
    void dropWithin(Span span);

  private:
    struct Edit {
        qsizetype begin;
        qsizetype end;
        qsizetype textBegin;
        qsizetype textSize;
    };
    std::vector<Edit> edits_;
    QByteArray pool_;
    std::vector<QByteArray> taken_; // texts kept whole; an edit's textBegin -1 - i names one
};

// Rewrites one stretch of a text front to back, replacing numbers at increasing places, and hands
// the result to a TextSplice as one replacement: cheaper than an edit per number when a layer
// changes many of them.
class StretchWriter
{
  public:
    explicit StretchWriter(QByteArrayView original) : original_(original) {}

    void replaceNumber(Span span, int64_t value);
    bool isEmpty() const { return begin_ < 0; }
    // Ends the stretch after its last number and adds it to splice.
    void finish(TextSplice& splice);

  private:
    QByteArrayView original_;
    QByteArray text_; // grown ahead of need; used_ bytes hold the stretch so far
    qsizetype used_ = 0;
    qsizetype begin_ = -1;
    qsizetype from_ = 0;
};

// Space, tab, line feed or carriage return: the blanks of XML, JSON and CSV alike.
inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// "line 3, column 7" for a byte offset of a UTF-8 text; columns count characters.
QString linePlace(QByteArrayView text, qsizetype offset);

// A whole number written with decimal digits only, or with one leading '-' when signed; no blanks.
// False when there is anything else or it does not fit in 64 bits.
bool parseWholeNumber(QByteArrayView text, bool allowSign, int64_t& value);
