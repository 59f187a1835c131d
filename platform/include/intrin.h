// Compiler intrinsics that the program uses.
#pragma once

extern "C" {

// The processor's CPUID instruction for leaf `function_id`: EAX, EBX, ECX, EDX in that order.
// All zero on a processor without CPUID.
void __cpuid(int cpu_info[4], int function_id);
}
