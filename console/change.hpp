// The Change command: sets registers, buses, flags and memory words by hand.
#pragma once

void change_command();
