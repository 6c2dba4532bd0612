#include "app/app.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    // Before anything starts a thread: the break signals are read, never delivered.
    blockBreakSignals();
    return appMain(argc, argv);
}
