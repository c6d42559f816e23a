#pragma once
// Host-lane tests that act as another identity: this process runs as the given token while
// the object lives, and as whoever it was before afterwards. Also the tokens those tests need.

#include <nlohmann/json.hpp>

#include <winsim/testing.h>

#include <string>
#include <vector>

namespace quarvel::testing {

class RunAs {
  public:
    explicit RunAs(const std::string& token_json) : saved_(winsim::process_token_json()) {
        winsim::set_process_token_json(token_json);
    }
    ~RunAs() { winsim::set_process_token_json(saved_); }
    RunAs(const RunAs&) = delete;
    RunAs& operator=(const RunAs&) = delete;

  private:
    std::string saved_;
};

// A fresh sign-in of a local account made for the test, member of the group `group` when one
// is named (and, like every account, of Users); with restricting SIDs, write-restricted.
inline std::string member_token(const std::string& account, const std::string& group = "",
                                const std::vector<std::string>& restricting = {}) {
    const std::string user = winsim::ensure_local_user(account, "Pass-word-1");
    if (!group.empty()) {
        winsim::ensure_local_group(group);
        winsim::add_local_group_member(group, user);
    }
    auto token = nlohmann::json::parse(winsim::account_token_json(account));
    if (!restricting.empty()) {
        token["write_restricted"] = true;
        for (const auto& sid : restricting)
            token["restricting_sids"].push_back({{"sid", sid}, {"attributes", 7}});
    }
    return token.dump();
}

}  // namespace quarvel::testing
