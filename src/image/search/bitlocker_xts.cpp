// XTS-AES for the BitLocker library, by OpenSSL: the library's own AES is
// table-driven C (about 90 MB/s here), and an XTS volume decrypts every byte
// the search reads through it. Its copy of the tweaked-context functions is
// taken from these definitions instead: linked as an object, they are found
// before the library's archive is searched, so its member is never linked
// (were it, the link would fail on the names defined twice). The names carry
// the prefix its copies are renamed with; the signatures are the library's.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

struct TweakedContext {
  EVP_CIPHER_CTX* cipher = nullptr;
  bool keyed = false;
  int mode = 0;  // what its key was set for
};

constexpr int kDecrypt = 0;  // the library's modes
constexpr int kEncrypt = 1;

}  // namespace

// The library's handles are integers the width of a pointer; its errors are
// left unset, and each caller sets its own on -1.
extern "C" {

int libbde_copy_libcaes_tweaked_context_initialize(std::intptr_t** context, void* /*error*/) {
  if (context == nullptr || *context != nullptr) return -1;
  auto* made = new (std::nothrow) TweakedContext;
  if (made == nullptr) return -1;
  made->cipher = EVP_CIPHER_CTX_new();
  if (made->cipher == nullptr) {
    delete made;
    return -1;
  }
  *context = reinterpret_cast<std::intptr_t*>(made);
  return 1;
}

int libbde_copy_libcaes_tweaked_context_free(std::intptr_t** context, void* /*error*/) {
  if (context == nullptr) return -1;
  auto* held = reinterpret_cast<TweakedContext*>(*context);
  if (held != nullptr) {
    EVP_CIPHER_CTX_free(held->cipher);  // clears its key schedule
    delete held;
    *context = nullptr;
  }
  return 1;
}

int libbde_copy_libcaes_tweaked_context_set_keys(std::intptr_t* context, int mode,
                                                 const std::uint8_t* key, std::size_t key_bits,
                                                 const std::uint8_t* tweak_key,
                                                 std::size_t tweak_key_bits, void* /*error*/) {
  auto* held = reinterpret_cast<TweakedContext*>(context);
  if (held == nullptr || key == nullptr || tweak_key == nullptr ||
      (mode != kDecrypt && mode != kEncrypt) || (key_bits != 128 && key_bits != 256) ||
      tweak_key_bits != key_bits) {
    return -1;
  }
  // OpenSSL takes the data key and the tweak key as one.
  const std::size_t half = key_bits / 8;
  unsigned char both[64];
  std::memcpy(both, key, half);
  std::memcpy(both + half, tweak_key, half);
  const EVP_CIPHER* cipher = key_bits == 128 ? EVP_aes_128_xts() : EVP_aes_256_xts();
  held->keyed = EVP_CipherInit_ex(held->cipher, cipher, nullptr, both, nullptr,
                                  mode == kEncrypt ? 1 : 0) == 1;
  OPENSSL_cleanse(both, sizeof both);
  held->mode = mode;
  // OpenSSL refuses to encrypt with two equal halves, which the library's
  // own AES takes; nothing here ever encrypts, so such a key is no failure.
  return held->keyed || mode == kEncrypt ? 1 : -1;
}

int libbde_copy_libcaes_crypt_xts(std::intptr_t* context, int mode, const std::uint8_t* tweak,
                                  std::size_t tweak_size, const std::uint8_t* input,
                                  std::size_t input_size, std::uint8_t* output,
                                  std::size_t output_size, void* /*error*/) {
  auto* held = reinterpret_cast<TweakedContext*>(context);
  if (held == nullptr || !held->keyed || mode != held->mode || tweak == nullptr ||
      tweak_size != 16 || input == nullptr || output == nullptr || input_size < 16 ||
      input_size > INT_MAX || output_size < input_size) {
    return -1;
  }
  // The key stays; only the tweak, the sector's, is new. XTS takes a whole
  // data unit in one update and keeps nothing for the final.
  int written = 0;
  if (EVP_CipherInit_ex(held->cipher, nullptr, nullptr, nullptr, tweak, -1) != 1 ||
      EVP_CipherUpdate(held->cipher, output, &written, input, static_cast<int>(input_size)) != 1 ||
      static_cast<std::size_t>(written) != input_size) {
    return -1;
  }
  return 1;
}

}  // extern "C"
