#include "app/ErrorReport.h"

#include "app/Form1.h"
#include "app/Links.h"

QString ErrorReportText(const QString &description, const QString &procedure, int line) {
    return description + QStringLiteral("\r\n") + QStringLiteral("in GlyphTK2021/08/31.Form1.") +
           procedure + QStringLiteral(" ") + QStringLiteral("at line ") + QString::number(line) +
           QStringLiteral("\r\r") + QStringLiteral("Please email screenshot of this message to ") +
           QLatin1String(Links::SupportEmail);
}

void Steps::report(int line, const char *description) {
    form_.ReportError(QString::fromLatin1(procedure_), line, QString::fromUtf8(description));
}

void Form1::ReportError(const QString &procedure, int line, const QString &description) {
    MessageRequest request;
    request.text = ErrorReportText(description, procedure, line);
    request.buttons = MsgButtons::Ok;
    request.icon = MsgIcon::Warning;
    request.title = QStringLiteral("Application Error");
    services_.messageBox(this, request);
}

MsgAnswer Form1::MsgBox(const QString &text, MsgButtons buttons, int defaultButton, MsgIcon icon,
                        const QString &title) {
    MessageRequest request;
    request.text = text;
    request.buttons = buttons;
    request.defaultButton = defaultButton;
    request.icon = icon;
    request.title = title.isNull() ? appTitle_ : title;
    return services_.messageBox(this, request);
}
