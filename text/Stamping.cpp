#include "app/ErrorReport.h"
#include "app/Form1.h"

// Stamping: completed by the text-editing work.
void Form1::FinishEditing() {}
void Form1::PushButton3_Click() {}
