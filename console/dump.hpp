// The Dump command: shows registers, buses and ranges of CM and MM.
#pragma once

void dump_command();
