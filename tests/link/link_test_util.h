// link/link_test_util.h - event messages of the link's tests, built the way
// an end builds them.
#ifndef ZERA_TESTS_LINK_LINK_TEST_UTIL_H
#define ZERA_TESTS_LINK_LINK_TEST_UTIL_H

#include <gtest/gtest.h>

#include <vector>

#include "link_wire.h"

namespace linktest {

// Gives ev a narrow attachment for `level`: Gain = value.
inline void Attach(Event *ev, uint8_t level, uint32_t value) {
    Attachment *node = *ZERA_ppstCheckParListA(ev, level, 0, 1, 0);
    uint32_t count = 0;
    ParamValue **values = nullptr;
    ASSERT_TRUE(ZERA_boAddParamA(1, 0, &node->pParList, &count, &values, ZERA_PARAM_DWORD, ZERA_ACCESS_ALWAYS,
                                 ZERA_ATTR_ATTACHABLE, 0, 0, "Gain", value));
}

// The message of type-2 events of one data byte each (the first `items` of
// them empty item lists instead), the first numbered `sequence`, confirming
// `ack`: an 'E' message for one event, a 'B' message for more. Each data
// event has an attachment for `level` (none for 0).
inline zlink::Bytes Numbered(uint32_t sequence, const std::vector<uint8_t> &bytes, uint8_t level = 0,
                             size_t items = 0, uint32_t ack = 0) {
    zlink::EventBatch batch;
    for (size_t i = 0; i < bytes.size(); ++i) {
        Event *ev = ZERA_pstCreateEvent(i < items ? ZERA_EVENT_ITEMS : ZERA_EVENT_DATA2, 1, i < items ? 0 : 1);
        if (i >= items) ev->pbData[0] = bytes[i];
        if (i >= items && level != 0) Attach(ev, level, bytes[i]);
        uint32_t dropped = 0;
        EXPECT_TRUE(batch.Add(ev, &dropped));
        ZERA_boDeleteEvent(ev);
    }
    zlink::Bytes m(batch.MessageSize());
    batch.CopyMessage(m.data());
    zlink::PatchEvent(m.data(), sequence, ack);
    return m;
}

}  // namespace linktest

#endif  // ZERA_TESTS_LINK_LINK_TEST_UTIL_H
