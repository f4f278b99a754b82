/* See stdcall_probe.h. Written in assembly because the point is to control
 * the stack exactly, which C cannot. ebx, esi and edi are preserved by the
 * callee in every 32-bit Windows calling convention. */
#include "stdcall_probe.h"

#if !defined(_WIN32) || !defined(__i386__)
#error "stdcall_probe.c is for 32-bit Windows"
#endif

__asm__(
    ".text\n"
    ".globl _ProbeStdcall\n"
    "_ProbeStdcall:\n"
    "    pushl %ebp\n"
    "    movl  %esp, %ebp\n"
    "    pushl %ebx\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl  %esp, %edi\n"     /* the caller's stack, restored at the end */
    "    movl  12(%ebp), %ebx\n" /* args */
    "    movl  16(%ebp), %ecx\n" /* argCount */
    /* Pad so that after the arguments and the return address esp is a
     * multiple of 16 at the callee's first instruction. */
    "    andl  $-16, %esp\n"
    "    leal  4(,%ecx,4), %edx\n"
    "    negl  %edx\n"
    "    andl  $15, %edx\n"
    "    subl  %edx, %esp\n"
    "    movl  %esp, %esi\n" /* esp before the arguments */
    "1:  testl %ecx, %ecx\n"
    "    jz    2f\n"
    "    pushl -4(%ebx,%ecx,4)\n"
    "    decl  %ecx\n"
    "    jmp   1b\n"
    "2:  call  *8(%ebp)\n"
    "    movl  %esp, %ecx\n"
    "    subl  %esi, %ecx\n"
    "    negl  %ecx\n" /* bytes still pushed */
    "    movl  20(%ebp), %edx\n"
    "    movl  %ecx, (%edx)\n"
    "    movl  %edi, %esp\n"
    "    popl  %edi\n"
    "    popl  %esi\n"
    "    popl  %ebx\n"
    "    popl  %ebp\n"
    "    ret\n");
