/* Calls a function the way a 32-bit Windows host compiled by another
 * compiler may: arguments pushed right to left on a stack that is only
 * 4-byte aligned (the callee is entered with esp a multiple of 16, where gcc
 * would have left esp + 4 a multiple of 16). Reports how many bytes of
 * arguments the callee left on the stack: 0 for a stdcall function, which
 * removes its own arguments. */
#ifndef MERVOX_STDCALL_PROBE_H
#define MERVOX_STDCALL_PROBE_H

#include <stdint.h>

/* 32-bit hosts only: x86-64 Windows has one calling convention, the callee
 * never removes arguments, and the caller must keep the stack 16-byte
 * aligned, so there is nothing to probe. */
#if defined(__i386__)
#define MERVOX_HOST_HAS_PROBE 1

/* Returns the callee's eax. args[0] is the first argument. */
uint32_t ProbeStdcall(const void* function, const uint32_t* args, uint32_t argCount, int32_t* bytesLeft);
#else
#define MERVOX_HOST_HAS_PROBE 0
#endif

#endif
