// The Load command: fills CM or MM from a load file.
#pragma once

void load_command();
