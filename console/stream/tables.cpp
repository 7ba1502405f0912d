#include "tables.h"

namespace quill {

void reset_tables(ProgramTables& tables) { tables = ProgramTables{}; }

}  // namespace quill
