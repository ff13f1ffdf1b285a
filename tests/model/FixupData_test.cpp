#include "model/FixupData.h"

#include <gtest/gtest.h>

#include <string>

namespace vxl_fixup {
namespace {

// A copying record keeps its texts when the caller's change or go; a
// referring one hands back the caller's own texts and never releases them.
TEST(FixupDataTest, CopiesOrRefersAsMade) {
    for (const FixupData::TextOwnership mode : {FixupData::COPY, FixupData::REFER}) {
        std::string id = "TASKKERNELPARAM", node = "node1", name = "NAME", value = "kernel.sem",
                    actual = "1", expected = "2";
        {
            FixupData record(&id, mode);
            record.addNode(&node);
            record.addData(&name, &value);
            record.setActualValue(&actual);
            record.setExpectedValue(&expected);
            record.setExpectedValue(nullptr);
            const struct {
                const char* what;
                const std::string* kept;
                const std::string* given;
            } cases[] = {
                {"task", record.getTaskIDStr(), &id},
                {"node", record.getParticipatingNodes().at(0), &node},
                {"data name", record.getDataSet().at(0)->name, &name},
                {"data value", record.getDataSet().at(0)->value, &value},
                {"actual", record.getActualValue(), &actual},
                {"expected", record.getExpectedValue(), &expected},
            };
            for (const auto& c : cases) {
                ASSERT_NE(c.kept, nullptr) << c.what;
                EXPECT_EQ(*c.kept, *c.given) << c.what;
                EXPECT_EQ(c.kept == c.given, mode == FixupData::REFER) << c.what << " " << mode;
            }
            value = "changed";
            EXPECT_EQ(*record.getDataSet().at(0)->value,
                      mode == FixupData::REFER ? "changed" : "kernel.sem");
            EXPECT_TRUE(record.appliesToThisNode(&node));
        }
        // Leaving the scope released the record: a referring one must have
        // left the caller's texts alone (ASan tells otherwise).
        EXPECT_EQ(id + node + name, "TASKKERNELPARAMnode1NAME");
    }
}

}  // namespace
}  // namespace vxl_fixup
