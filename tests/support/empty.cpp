// Keeps the test support library non-empty before any helper exists.
namespace vxl_fixup_test_support {
int anchor() { return 0; }
}
