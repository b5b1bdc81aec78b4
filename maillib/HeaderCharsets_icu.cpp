#include "HeaderCharsets.h"

#include <QByteArray>
#include <QStringDecoder>

namespace HeaderCharsets {

std::optional<QString> decode(QByteArrayView charset, QByteArrayView bytes) {
    QStringDecoder decoder(charset.toByteArray().constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

QString decodeCp932(QByteArrayView bytes) {
    // Stateless: every piece is handed over whole, so one decoder serves them all.
    thread_local QStringDecoder cp932("cp932", QStringConverter::Flag::Stateless);
    if (!cp932.isValid())
        return QString::fromUtf8(bytes); // a Qt without ICU: the ASCII still reads
    return cp932.decode(bytes);
}

} // namespace HeaderCharsets
