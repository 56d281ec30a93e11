/* zonce.h -- once-only set-up of zlib's tables built at run time.
 *
 * Not part of zlib: added for the Windows trees, which build the fixed
 * inflate tables (BUILDFIXED) and deflate's static trees (BUILDTREES) on
 * first use instead of storing them in every setup. zlib's own guards of
 * those are plain flags; the engine may be entered from several threads at
 * once, so the set-up runs under C11 atomics, as crc32.c's once() does.
 */
#ifndef ZONCE_H
#define ZONCE_H

#if !defined(__STDC_VERSION__) || __STDC_VERSION__ < 201112L || defined(__STDC_NO_ATOMICS__)
#  error "tables built at run time need C11 atomics"
#endif

#include <stdatomic.h>

typedef struct {
    atomic_flag begun;
    atomic_int done;
} zonce_t;
#define ZONCE_INIT {ATOMIC_FLAG_INIT, 0}

/* Runs init() exactly once; a thread that comes while another runs it waits
   until it is done. */
static void zonce(zonce_t *state, void (*init)(void))
{
    if (!atomic_load(&state->done)) {
        if (atomic_flag_test_and_set(&state->begun))
            while (!atomic_load(&state->done))
                ;
        else {
            init();
            atomic_store(&state->done, 1);
        }
    }
}

#endif /* ZONCE_H */
