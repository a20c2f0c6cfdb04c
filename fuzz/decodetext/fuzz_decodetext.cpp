// DecodeText reads whatever a database column holds; EncodeText must give back every text exactly, in the bytes
// that the GB18030 converter gives.

#include "base/TextCodec.h"
#include "fuzz/FuzzCheck.h"

#include <QStringEncoder>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // Any stored value, Base64 or not, decodes without harm, and its decoded text survives another round.
    const QString decoded = DecodeText(QString::fromLatin1(bytes));
    FUZZ_CHECK(DecodeText(EncodeText(decoded)) == decoded, "stored value round trip");

    // Every text that a user can type is stored and read back exactly, line breaks of the encoding included.
    const QString text = textOf(data, size);
    // The program's own conversion gives the converter's bytes.
    static QStringEncoder converter("GB18030");
    converter.resetState();
    FUZZ_CHECK(toGb18030(text) == converter.encode(text), "GB18030 bytes as the converter gives them");
    const QString encoded = EncodeText(text);
    FUZZ_CHECK(DecodeText(encoded) == text, "text round trip");
    for (qsizetype pos = 76; pos < encoded.size(); pos += 78)
        FUZZ_CHECK(encoded.mid(pos, 2) == QLatin1String("\r\n"), "CR LF after every 76 characters");
    return 0;
}
