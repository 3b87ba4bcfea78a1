#include "batch/CaptionTemplate.h"

#include "workspace/PhotoMetadata.h"

#include "platform/FileNames.h"
#include <QDateTime>

#include <QFileInfo>
#include <QLocale>
#include <optional>

namespace {

// The TIFF structure inside an EXIF block, read with its byte order; every read is checked.
class Tiff {
public:
    explicit Tiff(QByteArrayView bytes) : bytes_(bytes) {
        if (bytes.size() >= 8) {
            bigEndian_ = bytes.startsWith("MM");
            valid_ = (bytes.startsWith("II") || bigEndian_) && u16(2) == 42;
        }
    }
    bool valid() const { return valid_; }

    std::optional<quint32> u32(qint64 at) const {
        if (at < 0 || at + 4 > bytes_.size()) {
            return std::nullopt;
        }
        quint32 v = 0;
        for (int i = 0; i < 4; ++i) {
            const quint32 b = uchar(bytes_[at + (bigEndian_ ? i : 3 - i)]);
            v = v << 8 | b;
        }
        return v;
    }
    std::optional<quint16> u16(qint64 at) const {
        if (at < 0 || at + 2 > bytes_.size()) {
            return std::nullopt;
        }
        const quint16 a = uchar(bytes_[at]), b = uchar(bytes_[at + 1]);
        return bigEndian_ ? quint16(a << 8 | b) : quint16(b << 8 | a);
    }

    // The entry for `tag` in the directory at `directory`: where its 12 bytes start.
    std::optional<qint64> entry(qint64 directory, quint16 tag) const {
        const std::optional<quint16> count = u16(directory);
        if (!count) {
            return std::nullopt;
        }
        for (qint64 i = 0; i < *count; ++i) {
            const qint64 at = directory + 2 + 12 * i;
            const std::optional<quint16> t = u16(at);
            if (!t || at + 12 > bytes_.size()) {
                return std::nullopt;
            }
            if (*t == tag) {
                return at;
            }
        }
        return std::nullopt;
    }

    // An ASCII entry's text, up to its first NUL, spaces trimmed.
    QString text(qint64 directory, quint16 tag) const {
        const std::optional<qint64> at = entry(directory, tag);
        const std::optional<quint16> type = at ? u16(*at + 2) : std::nullopt;
        const std::optional<quint32> count = at ? u32(*at + 4) : std::nullopt;
        if (!type || *type != 2 || !count) {
            return {};
        }
        // Four bytes or fewer sit in the entry itself; longer text at the offset it gives.
        const std::optional<quint32> offset = *count <= 4 ? quint32(*at + 8) : u32(*at + 8);
        if (!offset || qint64(*offset) + qint64(*count) > bytes_.size()) {
            return {};
        }
        QByteArrayView value = bytes_.sliced(*offset, *count);
        if (const qsizetype nul = value.indexOf('\0'); nul >= 0) {
            value.truncate(nul);
        }
        return QString::fromUtf8(value).trimmed();
    }

private:
    QByteArrayView bytes_;
    bool bigEndian_ = false;
    bool valid_ = false;
};

constexpr quint16 MakeTag = 0x010F;
constexpr quint16 ModelTag = 0x0110;
constexpr quint16 ExifDirectoryTag = 0x8769;
constexpr quint16 DateTimeOriginalTag = 0x9003;

QString cameraName(const CameraFacts &facts) {
    if (facts.make.isEmpty() || facts.model.startsWith(facts.make, Qt::CaseInsensitive)) {
        return facts.model;
    }
    if (facts.model.isEmpty()) {
        return facts.make;
    }
    return facts.make + QLatin1Char(' ') + facts.model;
}

CameraFacts factsOf(const std::filesystem::path &input) {
    const OpenableName name(input);
    return ReadCameraFacts(ReadCameraData(name.path()));
}

} // namespace

CameraFacts ReadCameraFacts(const QByteArray &exif) {
    static const QByteArray header("Exif\0\0", 6);
    CameraFacts facts;
    if (!exif.startsWith(header)) {
        return facts;
    }
    const Tiff tiff(QByteArrayView(exif).sliced(header.size()));
    const std::optional<quint32> first = tiff.valid() ? tiff.u32(4) : std::nullopt;
    if (!first) {
        return facts;
    }
    facts.make = tiff.text(*first, MakeTag);
    facts.model = tiff.text(*first, ModelTag);
    const std::optional<qint64> pointer = tiff.entry(*first, ExifDirectoryTag);
    if (const std::optional<quint32> directory = pointer ? tiff.u32(*pointer + 8) : std::nullopt) {
        facts.taken = tiff.text(*directory, DateTimeOriginalTag);
    }
    return facts;
}

QString CaptionTextFor(const QString &text, const std::filesystem::path &input, int number,
                       const QString &dateFormat) {
    if (!text.contains(QLatin1Char('{'))) {
        return text;
    }
    // The camera data is read once, and only when a field needs it.
    std::optional<CameraFacts> facts;
    const auto camera = [&]() -> const CameraFacts & {
        if (!facts) {
            facts = factsOf(input);
        }
        return *facts;
    };
    const auto field = [&](QStringView name) -> std::optional<QString> {
        if (name == u"name") {
            return ShownName(input.stem());
        }
        if (name == u"n") {
            return QString::number(number);
        }
        if (name == u"camera") {
            return cameraName(camera());
        }
        if (name == u"date") {
            QDateTime taken =
                QDateTime::fromString(camera().taken, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
            if (!taken.isValid()) {
                taken = QFileInfo(OpenableName(input).path()).lastModified();
            }
            return QLocale::c().toString(taken, dateFormat);
        }
        return std::nullopt;
    };
    // One pass from left to right: a value put in is never read again as a field.
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('{'), i);
        const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            break;
        }
        out += QStringView(text).sliced(i, open - i);
        if (const std::optional<QString> value =
                field(QStringView(text).sliced(open + 1, close - open - 1))) {
            out += *value;
            i = close + 1;
        } else {
            out += QLatin1Char('{');
            i = open + 1;
        }
    }
    out += QStringView(text).sliced(i);
    return out;
}
