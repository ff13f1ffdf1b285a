#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/Constants.h"
#include "engine/Trace.h"
#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "support/TempDir.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class KernelParamTest : public vxl_test::ScratchFixture {
protected:
    void SetUp() override {
        vxl_test::ScratchFixture::SetUp();
        const std::string id = "TASKKERNELPARAM";
        data = new FixupData(&id);
        RunObjects::adopt(data);
        task.reset(new sTaskSystemSettings(data));
    }
    void TearDown() override {
        task.reset();
        XmlParser::dispose();
        vxl_test::ScratchFixture::TearDown();
    }
    // compareAndCorrectValues as (needs no correction, corrected).
    std::pair<bool, std::string> compare(const std::string& name, const std::string& value,
                                         const std::string& expected) {
        std::string corrected;
        const bool ok = task->compareAndCorrectValues(&name, &value, &expected, corrected);
        return {ok, corrected};
    }
    std::unique_ptr<Result> updateConf(const std::string& name, const std::string& key,
                                       const std::string& running, const std::string& expected,
                                       const std::string& path) {
        return std::unique_ptr<Result>(
            task->updateEntryInSysctlConfFile(&name, &key, &running, &expected, &path));
    }
    FixupData* data = nullptr;
    std::unique_ptr<sTaskSystemSettings> task;
};

TEST_F(KernelParamTest, ComparisonRules) {
    struct Case {
        const char* name;
        const char* value;
        const char* expected;
        bool ok;
        const char* corrected;  // checked when ok is false
    } cases[] = {
        {"file-max", "6815744", "1048576", true, ""},
        {"file-max", "65536", "6815744", false, "6815744"},
        {"file-max", "", "1", false, "1"},
        {"file-max", "  ", "0", true, ""},
        {"file-max", "abc", "1024", false, "1024"},  // unparsable counts as wrong
        {"shmmax", "18446744073692774399", "4294967295", true, ""},
        {"shmall", "18446744073692774399", "4294967295", true, ""},
        {"shmmax", "4294967295", "18446744073692774399", false, "18446744073692774399"},
        {"vm.nr_hugepages", "10", "20", false, "20"},
        {"semmns", "250 32000 100 128", "64000", false, "250 64000 100 128"},
        {"semmns", "250\t32000\t100\t128", "64000", false, "250\t64000\t100\t128"},
        {"semmsl", "250 32000 100 128", "200", true, ""},
        {"semmni", "250 32000 100 128", "4096", false, "250 32000 100 4096"},
        {"semopm", "250 32000", "100", false, "250 32000"},  // field missing
        {"ip_local_port_range", "32768 60999", "9000 65500", false, "9000 65500"},
        {"ip_local_port_range", "9000 65500", "9000 65500", true, ""},
        {"ip_local_port_range", "9000", "9000 65500", false, "9000   65500"},
        {"ip_local_port_range", "9000 70000", "9000 65500", false, "9000 65500"},
        {"file-max", "00", "5", false, "5"},  // zero only as "0"
        {"file-max", " 7", "5", true, ""},    // a larger value stands as given
        {"file-max", " 5", "5", true, ""},    // and an equal one
        {"unknown-name", "1", "2", false, ""},
    };
    for (const Case& c : cases) {
        const auto outcome = compare(c.name, c.value, c.expected);
        EXPECT_EQ(outcome.first, c.ok) << c.name << " " << c.value;
        if (!c.ok) {
            EXPECT_EQ(outcome.second, c.corrected) << c.name << " " << c.value;
        }
    }
}

TEST_F(KernelParamTest, ConfFileGainsARecordWhenTheKeyIsMissing) {
    const std::string conf = work.file("sysctl.conf");
    TempDir::write(conf, "# comment\n  fs.file-max = 10\n#fs.file-max=20\n");
    auto r = updateConf("file-max", "fs.file-max", "6815744", " 1048576", conf);
    EXPECT_TRUE(r->isSuccessFul());
    EXPECT_EQ(TempDir::read(conf),
              "# comment\n  fs.file-max = 10\n#fs.file-max=20\n"
              "# Recommended value for fs.file-max\nfs.file-max = 1048576\n");
}

TEST_F(KernelParamTest, ConfFileLinesAreRewrittenOnlyForTheWholeKey) {
    const std::string conf = work.file("sysctl.conf");
    TempDir::write(conf,
                   "kernel.panic_on_oops = 0\nkernel.panic=5\nkernel.panic = 30 # keep\n"
                   "kernel.panic = 3\nkernel.shmmax = 18446744073692774399");
    auto r = updateConf("kernel.panic", "kernel.panic", "0", "10", conf);
    EXPECT_TRUE(r->isSuccessFul());
    EXPECT_EQ(TempDir::read(conf),
              "kernel.panic_on_oops = 0\nkernel.panic = 10\nkernel.panic = 30 # keep\n"
              "kernel.panic = 10\nkernel.shmmax = 18446744073692774399\n");
    // A value above the expected one stands, even beyond the signed range.
    r = updateConf("shmmax", "kernel.shmmax", "0", "4294967295", conf);
    EXPECT_NE(TempDir::read(conf).find("kernel.shmmax = 18446744073692774399\n"),
              std::string::npos);
}

TEST_F(KernelParamTest, SemaphoreRecordsOfFewerThanFourFieldsTakeTheRunningValue) {
    const std::string conf = work.file("sysctl.conf");
    const struct {
        const char* before;
        const char* name;
        const char* expected;
        const char* after;
    } cases[] = {
        {"kernel.sem = 250\n", "semmns", "64000", "kernel.sem = 250 64000 100 128\n"},
        {"kernel.sem = 300 32000 100\n", "semmns", "64000", "kernel.sem = 250 64000 100 128\n"},
        {"kernel.sem = 300 32000 100 64\n", "semmns", "64000", "kernel.sem = 300 64000 100 64\n"},
        {"", "semmsl", "200",
         "# Recommended value for kernel.sem\nkernel.sem = 250 32000 100 128\n"},
    };
    for (const auto& c : cases) {
        TempDir::write(conf, c.before);
        auto r = updateConf(c.name, "kernel.sem", "250 32000 100 128", c.expected, conf);
        EXPECT_TRUE(r->isSuccessFul()) << c.before;
        EXPECT_EQ(TempDir::read(conf), c.after) << c.before;
    }
}

TEST_F(KernelParamTest, UnreadableConfFileFailsWith9030) {
    for (const std::string& path : {work.file("missing/sysctl.conf"), work.path()}) {
        auto r = updateConf("file-max", "fs.file-max", "1", "2", path);
        EXPECT_TRUE(r->isFailed());
        EXPECT_EQ(vxl_test::onlyError(*r), "Vxlg|9030|" + path + "|node1");
    }
}

TEST_F(KernelParamTest, BadTaskDataFailsBeforeAnythingRuns) {
    struct Case {
        const char* name;      // null: no NAME item
        const char* expected;  // null: no expected value
        const char* number;
    } cases[] = {
        {nullptr, "CURR(1)", "9031"},         {"file-max", nullptr, "9031"},
        {"file-max", "CONF(4096)", "9046"},   {"file-max", "CURR()CONF(1)", "9046"},
        {"no-such-param", "CURR(1)", "9046"},
    };
    for (const Case& c : cases) {
        const std::string id = "TASKKERNELPARAM", item = "NAME";
        FixupData* d = new FixupData(&id);
        RunObjects::adopt(d);
        if (c.name) {
            const std::string v = c.name;
            d->addData(&item, &v);
        }
        if (c.expected) {
            const std::string v = c.expected;
            d->setExpectedValue(&v);
        }
        std::unique_ptr<Result> r(task->fix(d));
        EXPECT_TRUE(r->isFailed());
        EXPECT_EQ(vxl_test::onlyError(*r), std::string("Vxlg|") + c.number);
        EXPECT_FALSE(r->hasNativeErrors()) << "nothing was run";
    }
}

TEST_F(KernelParamTest, IdentifiersWithoutAFixGiveAnEmptyUnknownResult) {
    for (const char* id : {"STASKDEVICEFILESETTINGS", "CHECK_IOCP_STATUS", "CHECK_DAX_ACCESS"}) {
        const std::string text = id;
        FixupData* d = new FixupData(&text);
        RunObjects::adopt(d);
        std::unique_ptr<Result> r(task->fix(d));
        EXPECT_TRUE(r->isUnknown()) << id;
        EXPECT_FALSE(r->hasErrors());
    }
}

}  // namespace
}  // namespace vxl_fixup
