#include "console.h"
#include "entry.h"

int main(int argc, char** argv) {
    quill::console_init();
    return quill::run_program(argc, argv);
}
