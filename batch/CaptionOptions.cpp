#include "batch/CaptionOptions.h"

#include "batch/FontFamilies.h"

#include <QColor>
#include <QRegularExpression>
#include <QThread>
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

QString CaptionCommandHelp() {
    return QStringLiteral(
        "Usage: glyphtack caption [OPTIONS] --out DIR FILE...\n"
        "       glyphtack caption [OPTIONS] --out DIR --files-from LIST\n"
        "\n"
        "Stamps the same caption onto every FILE and writes each as DIR/<its own name>, with the\n"
        "renderer of Glyphtack's text box: what the window would stamp, pixel for pixel. No "
        "window\n"
        "opens. Pictures are captioned one per core at a time.\n"
        "\n"
        "The caption:\n"
        "  --text TEXT            the text; \\n in it starts a new line (required)\n"
        "  --font \"FAMILY,SIZE[,bold][,italic]\"\n"
        "                         font and size in points at 96 dots per inch (Arial,9,bold)\n"
        "  --color #RRGGBB        colour of the text (#000000)\n"
        "  --align left|center|right\n"
        "                         alignment of the lines across the caption's width (left)\n"
        "  --outline WIDTH[,#RRGGBB]\n"
        "                         an outline around the glyphs, WIDTH pixels wide (black)\n"
        "  --shadow               a soft drop shadow\n"
        "  --plate #RRGGBB[,OPACITY]\n"
        "                         a plate behind the text, OPACITY percent opaque (100)\n"
        "  --height-share PERCENT the font's size as a share of each picture's height (all\n"
        "                         lengths of the caption grow with it), instead of its points\n"
        "\n"
        "Where it goes (lengths in pixels of the picture):\n"
        "  --anchor top-left|top|top-right|left|center|right|bottom-left|bottom|bottom-right\n"
        "                         one of nine places (bottom-right)\n"
        "  --margin PIXELS        distance from the picture's edges at the anchor (10)\n"
        "  --at X,Y               the caption's top-left corner instead of an anchor\n"
        "  --width PIXELS         the caption's width: lines wrap at it (its own width, at most\n"
        "                         the picture's width less the margins)\n"
        "  --height PIXELS        the caption's height: a plate covers at least this much\n"
        "\n"
        "What is written:\n"
        "  --out DIR              the folder the pictures are written to (required)\n"
        "  --name PATTERN         file names, from {name} (the input's name without its\n"
        "                         extension) and {ext} (the output's extension) ({name}.{ext})\n"
        "  --format bmp|jpg|png   the output format; by default each picture's own (BMP, JPG,\n"
        "                         PNG; JPG for any file holding a JPEG, .mpo too), PNG for\n"
        "                         the other formats\n"
        "  --quality keep|smart|1-100\n"
        "                         JPG quality: keep writes a JPEG photo again with only the\n"
        "                         caption's blocks encoded anew, at its own quality, sampling\n"
        "                         and metadata (for other pictures, or where a photo cannot be\n"
        "                         kept, smart); smart estimates each input's quality (a JPEG's\n"
        "                         from its quantization tables); a number is used for every\n"
        "                         picture (keep)\n"
        "  --overwrite            replace files that exist, inputs included (never otherwise)\n"
        "  --jobs N               pictures at once (one per core)\n"
        "  --help                 this text\n"
        "\n"
        "A whole archive:\n"
        "  --files-from FILE      the pictures listed in FILE, one path a line (- reads standard\n"
        "                         input), after any FILE given on the command line\n"
        "  -0, --null             the list's paths end with a NUL byte (find -print0)\n"
        "  --shard K/N            only this run's share of the pictures: shard K of N, K from 0\n"
        "                         to N - 1; N runs given the same list write what one run would\n"
        "  --skip-existing        skip pictures whose output is already complete (a run that was\n"
        "                         stopped starts again where it was)\n"
        "  --report FILE          add one JSON line per picture to FILE: input, output, status\n"
        "                         (written, skipped, failed), reason, milliseconds, quality\n"
        "  --date-format FORMAT   how {date} is written, in Qt's date format (yyyy-MM-dd)\n"
        "\n"
        "In --text, {name} is the picture's file name without its extension, {date} the date it\n"
        "was taken (its camera data, else the file's time), {camera} the camera's make and\n"
        "model, {n} its number in the list from 1.\n"
        "\n"
        "The exit status is 0 when every picture was written, 1 when any failed (each is named),\n"
        "2 when the command line is wrong.\n");
}

ParsedCaptionCommand ParseCaptionCommand(const QStringList &arguments) {
    ParsedCaptionCommand parsed;
    CaptionOptions options;
    options.caption.font = QFont(QStringLiteral("Arial"));
    options.caption.font.setPointSizeF(9.0);
    options.caption.font.setBold(true);
    bool haveText = false;
    try {
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QString &argument = arguments.at(i);
            if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
                parsed.message = CaptionCommandHelp();
                parsed.exitCode = 0;
                return parsed;
            }
            if (argument == QLatin1String("--")) {
                options.files += arguments.mid(i + 1);
                break;
            }
            if (argument == QLatin1String("-0")) {
                options.nulSeparated = true;
                continue;
            }
            if (!argument.startsWith(QLatin1String("--"))) {
                options.files << argument;
                continue;
            }
            // --option=value or --option value.
            QString name = argument;
            QString value;
            bool inlineValue = false;
            if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
                name = argument.left(equals);
                value = argument.mid(equals + 1);
                inlineValue = true;
            }
            const auto take = [&]() -> QString {
                if (inlineValue) {
                    return value;
                }
                if (i + 1 >= arguments.size()) {
                    bad(QStringLiteral("%1 needs a value").arg(name));
                }
                return arguments.at(++i);
            };
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
                options.outFolder = take();
            } else if (name == QLatin1String("--name")) {
                options.namePattern = take();
                if (!options.namePattern.contains(QLatin1String("{name}")) ||
                    options.namePattern.contains(QLatin1Char('/'))) {
                    bad(QStringLiteral("--name takes a file name with {name} in it and no folder"));
                }
            } else if (name == QLatin1String("--jobs")) {
                options.jobs = wholeNumber(name, take(), 1, 256);
            } else if (name == QLatin1String("--files-from")) {
                options.filesFrom = take();
            } else if (name == QLatin1String("--null")) {
                options.nulSeparated = true;
            } else if (name == QLatin1String("--shard")) {
                shard(options, take());
            } else if (name == QLatin1String("--skip-existing")) {
                options.skipExisting = true;
            } else if (name == QLatin1String("--report")) {
                options.reportPath = take();
            } else if (name == QLatin1String("--date-format")) {
                options.dateFormat = take();
            } else {
                bad(QStringLiteral("unknown option %1 (see --help)").arg(name));
            }
        }
        if (!haveText) {
            bad(QStringLiteral("--text is required (see --help)"));
        }
        if (options.outFolder.isEmpty()) {
            bad(QStringLiteral("--out is required: the folder the pictures are written to"));
        }
        if (options.nulSeparated && options.filesFrom.isEmpty()) {
            bad(QStringLiteral("-0 reads the list of --files-from: give it too"));
        }
        if (options.files.isEmpty() && options.filesFrom.isEmpty()) {
            bad(QStringLiteral("no pictures given"));
        }
    } catch (const BadCommandLine &e) {
        parsed.message = QStringLiteral("glyphtack caption: ") + QString::fromStdString(e.what());
        parsed.exitCode = 2;
        return parsed;
    }
    if (options.jobs == 0) {
        options.jobs = qMax(1, QThread::idealThreadCount());
    }
    parsed.options = options;
    return parsed;
}
