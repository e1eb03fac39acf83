// The disk-image library reaches network images through libcurl, which cannot
// be linked statically (its TLS stack has no static archive). A static
// program opens local images only: these stand in for the calls, and every
// one of them fails.
#include <cstddef>

extern "C" {
int curl_global_init(long /*flags*/) { return 2; }  // CURLE_FAILED_INIT
void* curl_easy_init() { return nullptr; }
int curl_easy_setopt(void* /*handle*/, int /*option*/, ...) { return 2; }
int curl_easy_perform(void* /*handle*/) { return 2; }
int curl_easy_getinfo(void* /*handle*/, int /*info*/, ...) { return 2; }
void curl_easy_cleanup(void* /*handle*/) {}
void* curl_slist_append(void* /*list*/, const char* /*text*/) { return nullptr; }
void curl_slist_free_all(void* /*list*/) {}
}
