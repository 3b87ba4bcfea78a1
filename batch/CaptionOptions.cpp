#include "batch/CaptionOptions.h"

#include "batch/FontFamilies.h"
#include "batch/UsableCpus.h"
#include "platform/FileNames.h"

#include <QColor>
#include <QRegularExpression>
#include <stdexcept>

namespace {

// A command line that cannot be carried out: what is wrong, in the user's terms.
struct BadCommandLine : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void bad(const QString &message) {
    throw BadCommandLine(message.toStdString());
}

int wholeNumber(const QString &option, const QString &text, int lowest, int highest) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < lowest || value > highest) {
        bad(QStringLiteral("%1 takes a whole number from %2 to %3, not \"%4\"")
                .arg(option)
                .arg(lowest)
                .arg(highest)
                .arg(text));
    }
    return value;
}

QColor colour(const QString &option, const QString &text) {
    static const QRegularExpression hex(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    if (!hex.match(text.trimmed()).hasMatch()) {
        bad(QStringLiteral("%1 takes a colour as #RRGGBB, not \"%2\"").arg(option, text));
    }
    return QColor(text.trimmed());
}

// "FAMILY,SIZE[,bold][,italic]", the size in points.
QFont font(const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 2 || parts.at(0).trimmed().isEmpty()) {
        bad(QStringLiteral("--font takes \"FAMILY,SIZE[,bold][,italic]\", not \"%1\"").arg(text));
    }
    bool ok = false;
    const double size = parts.at(1).trimmed().toDouble(&ok);
    if (!ok || !(size >= 1.0 && size <= 2000.0)) {
        bad(QStringLiteral("--font takes a size from 1 to 2000 points, not \"%1\"")
                .arg(parts.at(1)));
    }
    const QStringList nearest = NearestFontFamilies(parts.at(0));
    if (!nearest.isEmpty()) {
        bad(QStringLiteral("--font: no font family \"%1\" is installed; the nearest are %2")
                .arg(parts.at(0).trimmed(), nearest.join(QStringLiteral(", "))));
    }
    QFont f(parts.at(0).trimmed());
    f.setPointSizeF(size);
    f.setBold(false);
    f.setItalic(false);
    for (qsizetype i = 2; i < parts.size(); ++i) {
        const QString style = parts.at(i).trimmed().toLower();
        if (style == QLatin1String("bold")) {
            f.setBold(true);
        } else if (style == QLatin1String("italic")) {
            f.setItalic(true);
        } else {
            bad(QStringLiteral("--font knows the styles bold and italic, not \"%1\"")
                    .arg(parts.at(i)));
        }
    }
    return f;
}

QPoint point(const QString &option, const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2) {
        bad(QStringLiteral("%1 takes X,Y, not \"%2\"").arg(option, text));
    }
    return QPoint(wholeNumber(option, parts.at(0), -1000000, 1000000),
                  wholeNumber(option, parts.at(1), -1000000, 1000000));
}

CaptionAnchor anchor(const QString &text) {
    static const QStringList names = {
        QStringLiteral("top-left"),    QStringLiteral("top"),    QStringLiteral("top-right"),
        QStringLiteral("left"),        QStringLiteral("center"), QStringLiteral("right"),
        QStringLiteral("bottom-left"), QStringLiteral("bottom"), QStringLiteral("bottom-right")};
    const qsizetype index = names.indexOf(text.trimmed().toLower());
    if (index < 0) {
        bad(QStringLiteral("--anchor takes one of %1, not \"%2\"")
                .arg(names.join(QStringLiteral(", ")), text));
    }
    return CaptionAnchor(index);
}

Qt::Alignment alignment(const QString &text) {
    const QString a = text.trimmed().toLower();
    if (a == QLatin1String("left")) {
        return Qt::AlignLeft;
    }
    if (a == QLatin1String("center") || a == QLatin1String("centre")) {
        return Qt::AlignHCenter;
    }
    if (a == QLatin1String("right")) {
        return Qt::AlignRight;
    }
    bad(QStringLiteral("--align takes left, center or right, not \"%1\"").arg(text));
}

// "WIDTH[,#RRGGBB]"
void outline(CaptionEffects &effects, const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    effects.outlineWidth = wholeNumber(QStringLiteral("--outline"), parts.at(0), 1, 500);
    if (parts.size() > 2) {
        bad(QStringLiteral("--outline takes WIDTH[,#RRGGBB], not \"%1\"").arg(text));
    }
    if (parts.size() == 2) {
        effects.outlineColour = colour(QStringLiteral("--outline"), parts.at(1));
    }
}

// "#RRGGBB[,OPACITY]" with the opacity in percent (100 when not given).
void plate(CaptionEffects &effects, const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() > 2) {
        bad(QStringLiteral("--plate takes #RRGGBB[,OPACITY], not \"%1\"").arg(text));
    }
    effects.plateColour = colour(QStringLiteral("--plate"), parts.at(0));
    effects.plateOpacity = 100;
    if (parts.size() == 2) {
        QString opacity = parts.at(1).trimmed();
        if (opacity.endsWith(QLatin1Char('%'))) {
            opacity.chop(1);
        }
        effects.plateOpacity = wholeNumber(QStringLiteral("--plate"), opacity, 1, 100);
    }
}

// "K/N": this run's share of the list, K from 0 to N - 1.
void shard(CaptionOptions &options, const QString &text) {
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 2) {
        bad(QStringLiteral("--shard takes K/N (K from 0 to N - 1), not \"%1\"").arg(text));
    }
    options.shards = wholeNumber(QStringLiteral("--shard"), parts.at(1), 1, 1000000);
    options.shard = wholeNumber(QStringLiteral("--shard"), parts.at(0), 0, options.shards - 1);
}

// "\n" in the text is a line break (a shell makes real ones awkward); "\\" is a backslash.
QString captionText(const QString &text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 1 < text.size()) {
            if (text.at(i + 1) == QLatin1Char('n')) {
                out += QLatin1Char('\n');
                ++i;
                continue;
            }
            if (text.at(i + 1) == QLatin1Char('\\')) {
                out += QLatin1Char('\\');
                ++i;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

} // namespace

ParsedCaptionCommand ParseCaptionCommand(const QList<QByteArray> &arguments) {
    ParsedCaptionCommand parsed;
    CaptionOptions options;
    options.caption.font = QFont(QStringLiteral("Arial"));
    options.caption.font.setPointSizeF(9.0);
    options.caption.font.setBold(true);
    bool haveText = false;
    try {
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QByteArray &argument = arguments.at(i);
            if (argument == "--help" || argument == "-h") {
                parsed.message = CaptionCommandHelp();
                parsed.exitCode = 0;
                return parsed;
            }
            if (argument == "--") {
                for (qsizetype k = i + 1; k < arguments.size(); ++k) {
                    options.files.push_back(PathFromBytes(arguments.at(k)));
                }
                break;
            }
            if (argument == "-0") {
                options.nulSeparated = true;
                continue;
            }
            if (argument.startsWith('-') && !argument.startsWith("--") && argument.size() > 1) {
                bad(QStringLiteral("unknown option %1 (see --help)")
                        .arg(QString::fromLocal8Bit(argument)));
            }
            if (!argument.startsWith("--")) {
                options.files.push_back(PathFromBytes(argument));
                continue;
            }
            // --option=value or --option value.
            QString name = QString::fromLocal8Bit(argument);
            QByteArray value;
            bool inlineValue = false;
            if (const qsizetype equals = argument.indexOf('='); equals > 0) {
                name = QString::fromLocal8Bit(argument.left(equals));
                value = argument.mid(equals + 1);
                inlineValue = true;
            }
            const auto takeBytes = [&]() -> QByteArray {
                if (inlineValue) {
                    return value;
                }
                if (i + 1 >= arguments.size()) {
                    bad(QStringLiteral("%1 needs a value").arg(name));
                }
                return arguments.at(++i);
            };
            const auto take = [&] { return QString::fromLocal8Bit(takeBytes()); };
            const auto takePath = [&] { return PathFromBytes(takeBytes()); };
            if (name == QLatin1String("--shadow")) {
                options.caption.effects.shadow = true;
            } else if (name == QLatin1String("--overwrite")) {
                options.overwrite = true;
            } else if (name == QLatin1String("--text")) {
                options.caption.text = captionText(take());
                haveText = true;
            } else if (name == QLatin1String("--font")) {
                options.caption.font = font(take());
            } else if (name == QLatin1String("--color") || name == QLatin1String("--colour")) {
                options.caption.colour = colour(name, take());
            } else if (name == QLatin1String("--align")) {
                options.caption.alignment = alignment(take());
            } else if (name == QLatin1String("--outline")) {
                outline(options.caption.effects, take());
            } else if (name == QLatin1String("--plate")) {
                plate(options.caption.effects, take());
            } else if (name == QLatin1String("--height-share")) {
                QString share = take().trimmed();
                if (share.endsWith(QLatin1Char('%'))) {
                    share.chop(1);
                }
                bool ok = false;
                const double percent = share.toDouble(&ok);
                if (!ok || !(percent > 0.0 && percent <= 100.0)) {
                    bad(QStringLiteral("--height-share takes a percentage above 0 and up to 100"));
                }
                options.heightShare = percent / 100.0;
            } else if (name == QLatin1String("--anchor")) {
                options.anchor = anchor(take());
            } else if (name == QLatin1String("--margin")) {
                options.margin = wholeNumber(name, take(), 0, 1000000);
            } else if (name == QLatin1String("--at")) {
                options.at = point(name, take());
            } else if (name == QLatin1String("--width")) {
                options.width = wholeNumber(name, take(), 1, 1000000);
            } else if (name == QLatin1String("--height")) {
                options.height = wholeNumber(name, take(), 1, 1000000);
            } else if (name == QLatin1String("--quality")) {
                const QString q = take().trimmed().toLower();
                options.quality.reset();
                options.keepBlocks = q == QLatin1String("keep");
                if (q != QLatin1String("smart") && q != QLatin1String("keep")) {
                    options.quality = wholeNumber(name, q, 1, 100);
                }
            } else if (name == QLatin1String("--format")) {
                const QString f = take().trimmed().toLower();
                if (f != QLatin1String("bmp") && f != QLatin1String("jpg") &&
                    f != QLatin1String("png")) {
                    bad(QStringLiteral("--format takes bmp, jpg or png, not \"%1\"").arg(f));
                }
                options.format = f;
            } else if (name == QLatin1String("--out")) {
                options.outFolder = takePath();
            } else if (name == QLatin1String("--name")) {
                options.namePattern = takeBytes();
                if (!options.namePattern.contains("{name}") || options.namePattern.contains('/')) {
                    bad(QStringLiteral("--name takes a file name with {name} in it and no folder"));
                }
            } else if (name == QLatin1String("--jobs")) {
                options.jobs = wholeNumber(name, take(), 1, 256);
            } else if (name == QLatin1String("--files-from")) {
                options.filesFrom = takePath();
            } else if (name == QLatin1String("--null")) {
                options.nulSeparated = true;
            } else if (name == QLatin1String("--shard")) {
                shard(options, take());
            } else if (name == QLatin1String("--skip-existing")) {
                options.skipExisting = true;
            } else if (name == QLatin1String("--report")) {
                options.reportPath = takePath();
            } else if (name == QLatin1String("--date-format")) {
                options.dateFormat = take();
            } else {
                bad(QStringLiteral("unknown option %1 (see --help)").arg(name));
            }
        }
        if (!haveText) {
            bad(QStringLiteral("--text is required (see --help)"));
        }
        if (options.outFolder.empty()) {
            bad(QStringLiteral("--out is required: the folder the pictures are written to"));
        }
        if (options.nulSeparated && options.filesFrom.empty()) {
            bad(QStringLiteral("-0 reads the list of --files-from: give it too"));
        }
        if (options.files.empty() && options.filesFrom.empty()) {
            bad(QStringLiteral("no pictures given"));
        }
    } catch (const BadCommandLine &e) {
        parsed.message = QStringLiteral("glyphtack caption: ") + QString::fromStdString(e.what());
        parsed.exitCode = 2;
        return parsed;
    }
    if (options.jobs == 0) {
        options.jobs = UsableCpuCount();
    }
    parsed.options = options;
    return parsed;
}
