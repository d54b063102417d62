// What the network list window decides without a display: the identity it
// copies into the settings, and the editor's sensitivity for the states a
// network's password can be in. (The rows shown are checked on the window.)
#include "config/cfgfiles.h"
#include "fe-common/netlist.h"
#include "servlist/servlist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

TEST(NetlistIdentity, StoredCutAtBlankAndNeverInsideACharacter)
{
    load_default_config();
    // 62 ASCII bytes and a two-byte letter: 64 bytes, one more than a nick holds.
    const std::string long_nick = std::string(62, 'n') + "\xc3\xa9";
    netlist_identity_store({long_nick, "second", "third", "user name here"});
    EXPECT_EQ(std::string(prefs.irc_nick1), std::string(62, 'n'));
    EXPECT_STREQ(prefs.irc_nick2, "second");
    EXPECT_STREQ(prefs.irc_nick3, "third");
    EXPECT_STREQ(prefs.irc_user_name, "user");

    netlist_identity_store({"a", "b", "", std::string(200, 'u')});
    EXPECT_EQ(std::strlen(prefs.irc_user_name), 126u);
}

netedit_state stored_plain()
{
    netedit_state s;
    s.login_method = LOGIN_METHOD_SASL_PLAIN;
    s.stored_password = true;
    s.has_name = true;
    s.keyring_available = true;
    return s;
}

TEST(NeteditSensitivity, PasswordButtonsOnlyForASettledPasswordOutsideTheKeyring)
{
    netedit_sensitivity out = netedit_sensitivity_for(stored_plain());
    EXPECT_TRUE(out.encrypt_button);
    EXPECT_TRUE(out.move_button);
    EXPECT_TRUE(out.password);

    netedit_state s = stored_plain();
    s.stored_encrypted = true; // already encrypted: it can still move
    out = netedit_sensitivity_for(s);
    EXPECT_FALSE(out.encrypt_button);
    EXPECT_TRUE(out.move_button);

    for (auto change :
         {+[](netedit_state &x) { x.password_edited = true; }, +[](netedit_state &x) { x.ask_password = true; },
          +[](netedit_state &x) { x.in_keyring = true; }, +[](netedit_state &x) { x.stored_password = false; }}) {
        s = stored_plain();
        change(s);
        out = netedit_sensitivity_for(s);
        EXPECT_FALSE(out.encrypt_button);
        EXPECT_FALSE(out.move_button);
    }

    // Without a keyring, or a name to file it under, nothing moves there.
    s = stored_plain();
    s.keyring_available = false;
    out = netedit_sensitivity_for(s);
    EXPECT_TRUE(out.encrypt_button);
    EXPECT_FALSE(out.move_button);
    EXPECT_FALSE(out.use_keyring);
    s.in_keyring = true; // ... but a password can still be taken out of it
    EXPECT_TRUE(netedit_sensitivity_for(s).use_keyring);
    s = stored_plain();
    s.has_name = false;
    EXPECT_FALSE(netedit_sensitivity_for(s).move_button);
}

TEST(NeteditSensitivity, ExternalLoginAskedPasswordGlobalIdentityAndCertificates)
{
    netedit_state s = stored_plain();
    s.login_method = LOGIN_METHOD_SASL_EXTERNAL;
    EXPECT_FALSE(netedit_sensitivity_for(s).password);
    s = stored_plain();
    s.ask_password = true;
    EXPECT_FALSE(netedit_sensitivity_for(s).password);
    EXPECT_FALSE(netedit_sensitivity_for(s).use_keyring);

    s.use_global = true;
    EXPECT_FALSE(netedit_sensitivity_for(s).identity);
    s.use_global = false;
    EXPECT_TRUE(netedit_sensitivity_for(s).identity);

    netedit_sensitivity out = netedit_sensitivity_for(s);
    EXPECT_TRUE(out.cert_create);
    EXPECT_FALSE(out.cert_manage);
    s.has_certificate = true;
    out = netedit_sensitivity_for(s);
    EXPECT_FALSE(out.cert_create);
    EXPECT_TRUE(out.cert_manage);
    // A network without a name has no certificate file name.
    s.has_name = false;
    out = netedit_sensitivity_for(s);
    EXPECT_FALSE(out.cert_create || out.cert_manage);
}

} // namespace
