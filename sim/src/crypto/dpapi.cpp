// crypt32's CryptProtectData and CryptUnprotectData.
//
// A blob: "WSDP", format 1, scope (0 user, 1 machine), the 16-byte id of the machine key that
// sealed it, the user's SID text (user scope), the description (UTF-16), a 16-byte nonce, the
// payload XORed with an HMAC-SHA-256 keystream, and an HMAC-SHA-256 tag over everything before
// it and the optional entropy. Lengths are little-endian 32-bit numbers.

#include <winsim/dpapi.h>
#include <winsim/kernel.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/host_random.h"
#include "crypto/sha256.h"
#include "machine/faults.h"
#include "machine/machine.h"
#include "machine/object.h"
#include "security/token.h"

namespace winsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kMagic[4] = {'W', 'S', 'D', 'P'};
constexpr std::uint8_t kFormat = 1;
constexpr std::size_t kKeyIdSize = 16;
constexpr std::size_t kNonceSize = 16;
constexpr std::size_t kTagSize = 32;

Bytes random_bytes(std::size_t count) {
    Bytes bytes(count);
    fill_host_random_or_abort(bytes.data(), bytes.size());
    return bytes;
}

std::string to_hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const auto byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

Bytes from_hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t at = 0; at + 1 < text.size(); at += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16)));
    return bytes;
}

// The machine's data-protection key: drawn on the first use on this machine and kept in its
// directory, so every process of the machine seals and opens with the same key.
// Empty when the machine's state cannot be changed; the last error then says why.
Bytes machine_key() {
    std::string key;
    const DWORD locked = update_machine_state("dpapi.json", [&](nlohmann::json& state) {
        if (state.contains("machine_key") && state["machine_key"].is_string()) {
            key = state["machine_key"].get<std::string>();
            return false;
        }
        key = to_hex(random_bytes(32));
        state["machine_key"] = key;
        return true;
    });
    if (locked != ERROR_SUCCESS)
        return {};
    return from_hex(key);
}

Bytes text_bytes(std::string_view label) {
    return Bytes(label.begin(), label.end());
}

Bytes derive(const Bytes& key, std::string_view purpose, const std::string& user) {
    Bytes message = text_bytes(purpose);
    message.push_back(0);
    message.insert(message.end(), user.begin(), user.end());
    const Digest digest = hmac_sha256(key, message);
    return Bytes(digest.begin(), digest.end());
}

Bytes key_identifier(const Bytes& key) {
    const Digest digest = hmac_sha256(key, text_bytes("key id"));
    return Bytes(digest.begin(), digest.begin() + kKeyIdSize);
}

void apply_keystream(const Bytes& key, const Bytes& nonce, std::uint8_t* data, std::size_t size) {
    for (std::size_t block = 0; block * 32 < size; ++block) {
        Bytes counter = nonce;
        for (int k = 0; k < 8; ++k)
            counter.push_back(static_cast<std::uint8_t>(block >> (8 * k)));
        const Digest stream = hmac_sha256(key, counter);
        for (std::size_t k = 0; k < 32 && block * 32 + k < size; ++k)
            data[block * 32 + k] ^= stream[k];
    }
}

void put_length(Bytes& out, std::size_t length) {
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<std::uint8_t>(length >> (8 * k)));
}

Bytes entropy_bytes(const DATA_BLOB* entropy) {
    if (entropy == nullptr || entropy->cbData == 0 || entropy->pbData == nullptr)
        return {};
    return Bytes(entropy->pbData, entropy->pbData + entropy->cbData);
}

Bytes tag_of(const Bytes& key, const std::string& user, const Bytes& sealed, const Bytes& entropy) {
    Bytes message = sealed;
    message.insert(message.end(), entropy.begin(), entropy.end());
    const Digest digest = hmac_sha256(derive(key, "tag", user), message);
    return Bytes(digest.begin(), digest.end());
}

// Reads the blob's fields in order; every read checks the length first.
class BlobReader {
  public:
    explicit BlobReader(const DATA_BLOB& blob) : data_(blob.pbData), size_(blob.cbData) {}

    std::optional<Bytes> take(std::size_t count) {
        if (count > size_ - at_)
            return std::nullopt;
        Bytes bytes(data_ + at_, data_ + at_ + count);
        at_ += count;
        return bytes;
    }
    std::optional<std::size_t> take_length() {
        auto bytes = take(4);
        if (!bytes)
            return std::nullopt;
        std::size_t length = 0;
        for (int k = 3; k >= 0; --k)
            length = (length << 8) | (*bytes)[k];
        return length;
    }
    std::size_t position() const { return at_; }
    std::size_t remaining() const { return size_ - at_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct OpenedBlob {
    bool machine_scope = false;
    Bytes key_id;
    std::string user;
    std::u16string description;
    Bytes nonce;
    Bytes payload;                  // still sealed
    std::size_t sealed_length = 0;  // bytes covered by the tag
    Bytes tag;
};

std::optional<OpenedBlob> parse_blob(const DATA_BLOB& blob) {
    BlobReader reader(blob);
    auto magic = reader.take(4);
    auto header = reader.take(2);
    if (!magic || std::memcmp(magic->data(), kMagic, 4) != 0 || !header ||
        (*header)[0] != kFormat || (*header)[1] > 1)
        return std::nullopt;
    OpenedBlob opened;
    opened.machine_scope = (*header)[1] == 1;
    auto id = reader.take(kKeyIdSize);
    auto user_length = reader.take_length();
    if (!id || !user_length)
        return std::nullopt;
    opened.key_id = *id;
    auto user = reader.take(*user_length);
    auto description_length = reader.take_length();
    if (!user || !description_length || *description_length % 2 != 0)
        return std::nullopt;
    opened.user.assign(user->begin(), user->end());
    auto description = reader.take(*description_length);
    auto nonce = reader.take(kNonceSize);
    if (!description || !nonce || reader.remaining() < kTagSize)
        return std::nullopt;
    opened.description.resize(description->size() / 2);
    // memcpy must not be given the null data of an empty description, even for no bytes.
    if (!description->empty())
        std::memcpy(opened.description.data(), description->data(), description->size());
    opened.nonce = *nonce;
    opened.payload = *reader.take(reader.remaining() - kTagSize);
    opened.sealed_length = reader.position();
    opened.tag = *reader.take(kTagSize);
    return opened;
}

std::string calling_user() {
    return process_token_object()->snapshot().user;
}

// Hands bytes to the caller in one LocalAlloc block; false (with LocalAlloc's error) when the
// block cannot be had.
bool hand_out(const Bytes& bytes, DATA_BLOB* out) {
    auto* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, bytes.size()));
    if (block == nullptr)
        return false;
    if (!bytes.empty())
        std::memcpy(block, bytes.data(), bytes.size());
    out->cbData = static_cast<DWORD>(bytes.size());
    out->pbData = block;
    return true;
}

bool valid_blob_argument(const DATA_BLOB* blob) {
    return blob != nullptr && (blob->cbData == 0 || blob->pbData != nullptr);
}

bool prompt_forbidden(const CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags) {
    return prompt != nullptr && prompt->dwPromptFlags != 0 &&
           (flags & CRYPTPROTECT_UI_FORBIDDEN) != 0;
}

}  // namespace
}  // namespace winsim

BOOL CryptProtectData(DATA_BLOB* in, LPCWSTR description, DATA_BLOB* entropy, PVOID reserved,
                      CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* out) {
    using namespace winsim;
    WINSIM_FAIL_IF_INJECTED("CryptProtectData");
    if (!valid_blob_argument(in) || out == nullptr || reserved != nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (prompt_forbidden(prompt, flags))
        return fail(ERROR_PASSWORD_RESTRICTION);

    const bool machine_scope = (flags & CRYPTPROTECT_LOCAL_MACHINE) != 0;
    const std::string user = machine_scope ? std::string() : calling_user();
    const Bytes key = machine_key();
    if (key.empty())
        return FALSE;
    const std::u16string text = description != nullptr ? std::u16string(description) : u"";

    Bytes blob(kMagic, kMagic + 4);
    blob.push_back(kFormat);
    blob.push_back(machine_scope ? 1 : 0);
    const Bytes id = key_identifier(key);
    blob.insert(blob.end(), id.begin(), id.end());
    put_length(blob, user.size());
    blob.insert(blob.end(), user.begin(), user.end());
    put_length(blob, text.size() * 2);
    const auto* description_bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    blob.insert(blob.end(), description_bytes, description_bytes + text.size() * 2);
    const Bytes nonce = random_bytes(kNonceSize);
    blob.insert(blob.end(), nonce.begin(), nonce.end());
    const std::size_t payload_at = blob.size();
    if (in->cbData > 0)
        blob.insert(blob.end(), in->pbData, in->pbData + in->cbData);
    apply_keystream(derive(key, "stream", user), nonce, blob.data() + payload_at, in->cbData);
    const Bytes tag = tag_of(key, user, blob, entropy_bytes(entropy));
    blob.insert(blob.end(), tag.begin(), tag.end());
    return hand_out(blob, out) ? TRUE : FALSE;
}

BOOL CryptUnprotectData(DATA_BLOB* in, LPWSTR* description, DATA_BLOB* entropy, PVOID reserved,
                        CRYPTPROTECT_PROMPTSTRUCT* prompt, DWORD flags, DATA_BLOB* out) {
    using namespace winsim;
    WINSIM_FAIL_IF_INJECTED("CryptUnprotectData");
    if (!valid_blob_argument(in) || out == nullptr || reserved != nullptr)
        return fail(ERROR_INVALID_PARAMETER);
    if (prompt_forbidden(prompt, flags))
        return fail(ERROR_PASSWORD_RESTRICTION);

    auto opened = parse_blob(*in);
    if (!opened)
        return fail(ERROR_INVALID_DATA);
    const Bytes key = machine_key();
    if (key.empty())
        return FALSE;
    // The key that sealed the blob is not on this machine, or belongs to another user.
    if (opened->key_id != key_identifier(key))
        return fail(static_cast<DWORD>(NTE_BAD_KEY_STATE));
    if (!opened->machine_scope && opened->user != calling_user())
        return fail(static_cast<DWORD>(NTE_BAD_KEY_STATE));
    const Bytes sealed(in->pbData, in->pbData + opened->sealed_length);
    if (!equal_digests(opened->tag, tag_of(key, opened->user, sealed, entropy_bytes(entropy))))
        return fail(ERROR_INVALID_DATA);

    Bytes plain = opened->payload;
    apply_keystream(derive(key, "stream", opened->user), opened->nonce, plain.data(), plain.size());
    LPWSTR text = nullptr;
    if (description != nullptr) {
        const std::size_t bytes = (opened->description.size() + 1) * sizeof(WCHAR);
        text = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, bytes));
        if (text == nullptr)
            return FALSE;
        std::memcpy(text, opened->description.c_str(), bytes);
    }
    if (!hand_out(plain, out)) {
        const DWORD error = GetLastError();
        LocalFree(text);
        return fail(error);
    }
    if (description != nullptr)
        *description = text;
    return TRUE;
}
