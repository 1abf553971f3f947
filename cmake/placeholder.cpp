// Stands in for a library's sources while its folder is still empty, so that the
// build can be configured before the first source file lands.
namespace {
[[maybe_unused]] constexpr int kPlaceholder = 0;
}  // namespace
