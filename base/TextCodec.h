#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The program's byte form of a text: GB18030, which agrees with GBK on every GBK character.
QByteArray toGb18030(const QString& text);
QString fromGb18030(const QByteArray& bytes);
// The text with each lone surrogate as GB18030 keeps it, so that every store shows the same text.
QString withoutLoneSurrogates(const QString& text);

// Base64 of the text's GB18030 bytes, with CR LF after every 76 output characters.
QString EncodeText(const QString& text);
// EncodeText as the bytes that are stored.
QByteArray encodeTextBytes(const QString& text);
// Inverse of EncodeText; characters outside the Base64 alphabet are skipped, a trailing partial group is dropped.
QString DecodeText(const QString& encoded);
// DecodeText of a stored form given as its bytes.
QString decodeStoredBytes(QByteArrayView encoded);
QByteArray decodeBase64Lines(QByteArrayView encoded);

// Leading and trailing characters with codes up to 32 removed.
QString trimmed32(const QString& text);
// A typed name or memo as it is kept: trimmed32, then composed (NFC), so that a decomposed paste and the same text
// typed normally are one text.
QString composedTrimmed(const QString& text);
// True when composedTrimmed surely gives the text itself back; false may also mean that it does.
bool isComposedTrimmed(const QString& text);
// True when the text holds nothing but characters up to 32 and white space, full-width spaces included.
bool isBlankText(const QString& text);
