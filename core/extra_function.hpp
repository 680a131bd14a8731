// The extra functions of EXF and the counter-zero update.
#pragma once

void extra_function();
