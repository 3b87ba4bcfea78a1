// The settings as start-up reads them: the readings of stored text (ReadBoolean and
// ReadWholeNumber), and a settings file of arbitrary bytes read back through SettingsStore.
#include "FuzzQt.h"
#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "platform/Services.h"

#include <QFile>
#include <QSettings>
#include <cstddef>
#include <cstdint>

namespace {

// Only the settings store is asked for; the rest never runs here.
class SettingsOnlyServices : public Services {
public:
    explicit SettingsOnlyServices(QString path) : path_(std::move(path)) {}
    MsgAnswer messageBox(QWidget *, const MessageRequest &) override { return MsgAnswer::Ok; }
    QString openFileDialog(QWidget *, const QString &, const QString &, const QString &) override {
        return {};
    }
    bool colorDialog(QWidget *, QColor &) override { return false; }
    bool fontDialog(QWidget *, FontChoice &, bool) override { return false; }
    bool effectDialog(QWidget *, EffectChoice &) override { return false; }
    SaveDialogResult saveFileDialog(QWidget *, const QString &, const QStringList &, int) override {
        return {};
    }
    std::unique_ptr<QSettings> openSettings() override {
        return std::make_unique<QSettings>(path_, QSettings::IniFormat);
    }
    QString programFolder() override { return {}; }
    QString environment(const QString &) override { return {}; }
    void seedRandomFromClock() override {}
    double randomFraction() override { return 0.5; }
    void sleep(int) override {}
    bool openUrl(const QUrl &) override { return false; }
    void processEvents() override {}

private:
    QString path_;
};

// Start-up's readings of one value; a refusal is the report start-up shows.
void readAsStartupDoes(const QString &text) {
    try {
        (void)ReadBoolean(text);
    } catch (const RuntimeError &) {
    }
    try {
        (void)ReadWholeNumber(text);
    } catch (const RuntimeError &) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    StartFuzzApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    readAsStartupDoes(QString::fromUtf8(bytes));
    readAsStartupDoes(QString::fromLatin1(bytes));

    // A fresh name each time: Qt keeps parsed settings files by name and would otherwise judge
    // by the time stamp whether to parse again.
    static quint64 serial = 0;
    const QString path = FuzzScratchFolder() + QStringLiteral("/settings-%1.ini").arg(++serial);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            abort();
        }
        file.write(bytes);
    }
    SettingsOnlyServices services(path);
    SettingsStore store(services);
    static const char *const keys[] = {"Option21", "Option22", "Slider1"};
    for (const char *key : keys) {
        try {
            readAsStartupDoes(store.GetSetting(QLatin1String(key), QStringLiteral("1")));
        } catch (const RuntimeError &) {
        }
    }
    // Every key the file holds, read the same way.
    const std::unique_ptr<QSettings> settings = services.openSettings();
    for (const QString &key : settings->allKeys()) {
        try {
            readAsStartupDoes(store.GetSetting(key, QString()));
        } catch (const RuntimeError &) {
        }
    }
    QFile::remove(path);
    return 0;
}
