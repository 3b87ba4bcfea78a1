#include "resources/ConverterResource.h"

#include <QFile>

#include <mutex>
#include <stdexcept>

// The resource lives in a static library, so nothing registers it until this runs.
// Q_INIT_RESOURCE must be called outside any namespace; the name is the one given to rcc in
// converter.cmake.
static void initConverterResource() {
    Q_INIT_RESOURCE(glyphtack_converter);
}

QByteArray LoadConverterResource() {
    static std::once_flag registered;
    std::call_once(registered, initConverterResource);
    QFile file(QStringLiteral(":/CUSTOM/101"));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Resource not found");
    return file.readAll();
}
