#pragma once

// Marks what the Norvix library exports: its public API. Everything else is hidden.

#if defined(NORVIX_BUILDING_LIBRARY)
#define NORVIX_EXPORT __attribute__((visibility("default")))
#else
#define NORVIX_EXPORT
#endif
