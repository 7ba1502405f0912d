#include "job/entry.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    quill::console_init();
    return quill::run_program(argc, argv);
}
