#include "app/ErrorReport.h"
#include "app/Form1.h"

// Formatting commands: completed by the text-editing work.
void Form1::PushButton2_Click() {}
void Form1::PushButton5_Click() {}
