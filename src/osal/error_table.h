/*
 * osal/error_table.h - the one list of error codes and their texts. Every
 * code of enum OSAL_ErrorCode (include/VOQ_OSAL.h, where the numbers are
 * fixed) appears here once: OSAL_pszGetErrorText is generated from it, the
 * build checks it against that enum (osal/errors.cpp: a code missing or
 * listed twice stops the build), and the tests walk it.
 *
 * Internal: included by src/osal/errors.cpp and by tests.
 */
#ifndef OSAL_ERROR_TABLE_H
#define OSAL_ERROR_TABLE_H

#include "VOQ_OSAL.h"

/* X(code, text) */
#define OSAL_ERROR_TABLE(X)                                              \
    X(OSAL_ERR_NONE, "No error")                                         \
    X(OSAL_ERR_PREV_LEVEL, "Invalid previous level")                     \
    X(OSAL_ERR_NOT_AVAILABLE, "Not available")                           \
    X(OSAL_ERR_NO_MEMORY, "Out of memory")                               \
    X(OSAL_ERR_INVALID_HANDLE, "Invalid handle")                         \
    X(OSAL_ERR_INVALID_ARG, "Invalid argument")                          \
    X(OSAL_ERR_NAME_NOT_FOUND, "Name not found in module")               \
    X(OSAL_ERR_LOAD_FAILED, "Module cannot be loaded")                   \
    X(OSAL_ERR_SYSTEM, "System call failed")                             \
    X(OSAL_ERR_SHORT_PACKET, "Short packet")                             \
    X(OSAL_ERR_ATTACH_COPY, "Attachments cannot be copied")              \
    X(OSAL_ERR_INVALID_SIZE, "Invalid size, length, identifier or range") \
    X(OSAL_ERR_MODULE_REFUSED, "Component module refused")               \
    X(OSAL_ERR_INIT_FAILED, "Component initialisation failed")           \
    X(OSAL_ERR_QUEUE_FULL, "Queue full")                                 \
    X(OSAL_ERR_NOT_PRIVATE, "Not private to this user")                  \
    X(OSAL_ERR_DUPLICATE_ID, "Duplicate event identifier in queue")      \
    X(OSAL_ERR_INVALID_LEVEL, "Invalid stack level")                     \
    X(OSAL_ERR_INFO_MISMATCH, "Info blocks do not match")                \
    X(OSAL_ERR_TYPE_RANGE, "Type or kind out of range")                  \
    X(OSAL_ERR_VERSION_MISMATCH, "Info block versions do not match")     \
    X(OSAL_ERR_NOT_OWNER, "Event sent on a level that is not its owner") \
    X(OSAL_ERR_NOT_COMPLETE, "Stack not complete")                       \
    X(OSAL_ERR_ID_MISMATCH, "Event identifier differs from its owner's") \
    X(OSAL_ERR_NO_OWNER, "Event has no owner")

#endif /* OSAL_ERROR_TABLE_H */
