// The text-returning exports of one or two documents, each with its result slot.
#include "api/flows.h"
#include "info/info.h"
#include "report/reports.h"
#include "vellix.h"
#include "xmp/xmp.h"

namespace {
constexpr char JSON_FAILED[] = "failed to build JSON";
}  // namespace

thread_local result_slot g_read_json;
extern "C" VELLIX_API const char* vellix_read(const char* path) {
    return report_flow(g_read_json, JSON_FAILED, 0, read_json_build, path);
}

thread_local result_slot g_xmp_json;
extern "C" VELLIX_API const char* vellix_read_xmp(const char* path) {
    return report_flow(g_xmp_json, "failed to build XMP JSON", 0, read_xmp_build, path);
}

thread_local result_slot g_fonts_json;
extern "C" VELLIX_API const char* vellix_fonts(const char* path) {
    return report_flow(g_fonts_json, JSON_FAILED, 0, fonts_build, path);
}

thread_local result_slot g_images_json;
extern "C" VELLIX_API const char* vellix_images(const char* path) {
    return report_flow(g_images_json, JSON_FAILED, 0, images_build, path);
}

thread_local result_slot g_bookmarks_json;
extern "C" VELLIX_API const char* vellix_bookmarks(const char* path) {
    return report_flow(g_bookmarks_json, JSON_FAILED, 0, bookmarks_build, path);
}

// The one report of encrypted files: it reads only the encryption dictionary.
thread_local result_slot g_security_json;
extern "C" VELLIX_API const char* vellix_security(const char* path) {
    return report_flow(g_security_json, JSON_FAILED, 1, security_build, path);
}

thread_local result_slot g_analyze_json;
extern "C" VELLIX_API const char* vellix_analyze(const char* path) {
    return report_flow(g_analyze_json, JSON_FAILED, 0, analyze_build, path);
}

thread_local result_slot g_labels_json;
extern "C" VELLIX_API const char* vellix_page_labels(const char* path) {
    return report_flow(g_labels_json, JSON_FAILED, 0, page_labels_build, path);
}

// Encrypted files give their revisions and /ID.
thread_local result_slot g_traces_json;
extern "C" VELLIX_API const char* vellix_traces(const char* path) {
    return report_flow(g_traces_json, JSON_FAILED, 1, traces_build, path);
}

thread_local result_slot g_compare_json;
extern "C" VELLIX_API const char* vellix_compare(const char* path_a, const char* path_b) {
    return report_flow(g_compare_json, JSON_FAILED, 0, compare_build, path_a, path_b);
}
