#include "save/ConverterRun.h"

#include "app/ErrorReport.h"
#include "save/ConverterCommand.h"
#include "save/PrivateFolder.h"
#include "save/SaveFiles.h"

namespace {

// The converter's own words for what went wrong: its first line, without its name.
QString ConverterReason(const QByteArray &errors) {
    QString line = QString::fromLocal8Bit(errors).section(QLatin1Char('\n'), 0, 0).trimmed();
    const QString name = QStringLiteral("nconvert: ");
    if (line.startsWith(name)) {
        line.remove(0, name.size());
    }
    return line.left(400);
}

} // namespace

void RunConverterFor(const PrivateFolder &folder, const QString &command,
                     const std::filesystem::path &target, const WaitTick &tick) {
    const HeldProgram program = folder.converterForRunning();
    const QString placed = QuotedPath(ConverterPath(folder.path()));
    if (!command.startsWith(placed)) {
        throw RuntimeError("JPG converter could not be started");
    }
    const ConverterOutput output(target);
    QByteArray errors;
    const qint32 result = RunAndWait(QuotedPath(program.path()) + command.mid(placed.size()), 0,
                                     tick, &errors, program.handle());
    if (IsStartError(result)) {
        throw RuntimeError(
            ("JPG converter could not be started: " + StartErrorDescription(result)).toStdString());
    }
    if (result != 0) {
        QString description =
            QStringLiteral("JPG converter failed with exit code ") + QString::number(result);
        const QString reason = ConverterReason(errors);
        if (!reason.isEmpty()) {
            description += QStringLiteral(": ") + reason;
        }
        if (result == 3) {
            throw BlocksNotKept(description.toStdString(),
                                reason.section(QStringLiteral(": "), 1, -1));
        }
        throw RuntimeError(description.toStdString());
    }
    output.check();
}
