#include "app/ErrorReport.h"
#include "app/Form1.h"

// The save command; completed by the saving work.
void Form1::PushButton4_Click() {}

QString Form1::AskSaveFileName() {
    return QString();
}
