// The one table that maps task identifier texts to numbers and families.
#pragma once

#include <string>

namespace vxl_fixup {

enum class TaskFamily { NONE, SYSTEM_SETTINGS, USER_GROUP, CLUSTER_SETTINGS, DAEMON_PROCESSES };

constexpr int TASK_ID_COUNT = 32;

// Identifier text of task number n (1..32); empty for any other number.
const std::string& taskIdentifierText(int number);
// Family of task number n; NONE for 0, 9, 10 and unknown numbers.
TaskFamily taskFamilyOf(int number);

}  // namespace vxl_fixup
