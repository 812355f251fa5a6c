#pragma once
// The system's static objects are constructed in this order, whatever the
// link order: the crash guard first (it creates the private heap everything
// else allocates on), then the scratch builder, the module handle, the
// process-wide texts and the root error frame. Exit-time releases run in the
// reverse order, so the guard's teardown runs last.
#define INIT_ORDER_CRASH_GUARD   __attribute__((init_priority(101)))
#define INIT_ORDER_SCRATCH       __attribute__((init_priority(102)))
#define INIT_ORDER_MODULE_HANDLE __attribute__((init_priority(103)))
#define INIT_ORDER_GLOBAL_TEXT   __attribute__((init_priority(104)))
#define INIT_ORDER_ROOT_FRAME    __attribute__((init_priority(105)))
