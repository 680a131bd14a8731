// One micro-cycle: fetch, decode and execute the micro-instruction at CMAR.
#pragma once

void micro_cycle();
