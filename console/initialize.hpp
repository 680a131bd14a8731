// The Initialize command: resets registers or clears the memories.
#pragma once

void initialize_command();
