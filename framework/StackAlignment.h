// 32-bit Windows promises only 4-byte stack alignment where a thread starts and where the system
// calls back into the program, while code built for SSE keeps 16-byte values on the stack and
// assumes the compiler's 16-byte alignment. A function entered from there that may reach SSE code
// realigns its own frame. (Wine aligns thread stacks, so this shows only on Windows.)
#pragma once

#if defined(__i386__)
#define KVO_REALIGNS_STACK __attribute__((force_align_arg_pointer))
#else
#define KVO_REALIGNS_STACK  // the 64-bit ABI aligns every frame to 16 bytes
#endif
