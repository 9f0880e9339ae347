/*
 * HarnessLevel.c - the module of a harness's test level
 * (HarnessLevel.COMPONENT): its component exports forward to the harness
 * library, which keeps the level's logic beside the harness it serves (the
 * module itself is found by name like any component; a module can export
 * the kit's names without them clashing with the library's own).
 */
#include "ZERA_Component.h"
#include "ZERA_Harness.h"

static BOOL8 Setup(BOOL8 wide, Param **pp) {
    (void)wide;
    return ZERA_boCreateParListA(pp);
}

static BOOL8 Start(StackHandle *h) { return ZERA_boHarnessLevelStart(h); }
static void Stop(StackHandle *h) { ZERA_boHarnessLevelStop(h); }

ZERA_COMPONENT_BINDING()
ZERA_COMPONENT_NAME("HarnessLevel.COMPONENT")
ZERA_COMPONENT_PARAMS(Setup)
ZERA_COMPONENT_THREADS(Start, Stop)

ZERA_EXPORT void ZERA_CALL ZERA_vInfoBlockInitialize(InfoBlock *pstInfoBlock, InfoBlock *pstUpperInfoBlock) {
    ZERA_vHarnessLevelInfo(pstInfoBlock, pstUpperInfoBlock);
}

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleInit(StackHandle *h) { return ZERA_boHarnessLevelInit(h); }

ZERA_EXPORT BOOL8 ZERA_CALL ZERA_boModuleDeinit(StackHandle *h) { return ZERA_boHarnessLevelDeinit(h); }
