#include "servlist/servlist-cert.h"

#include "base/atomicfile.h"
#include "base/lumenwick.h"
#include "config/cfgfiles.h"
#include "servlist/servlist.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <openssl/crypto.h>

#include <vector>

namespace
{

// The smallest request configuration the tool accepts with -subj.
constexpr const char REQUEST_CONFIG[] = "[req]\ndistinguished_name=req_distinguished_name\n[req_distinguished_name]\n";
// The tool writes a few files and exits; a hang must not freeze the window for good.
constexpr int TOOL_TIMEOUT_S = 60;

std::string certs_dir()
{
    return std::string(get_xdir()) + "/certs";
}

std::string safe_name(const ircnet *net)
{
    std::string name = net && net->name ? net->name : "";
    for (char &c : name) {
        if (c == '/' || c == '\\')
            c = '_';
    }
    if (!name.empty() && name[0] == '.')
        name[0] = '_';
    return name;
}

std::string display_name(const ircnet *net)
{
    return net && net->name ? net->name : "";
}

servlist_cert_result result(bool ok, const char *format, const ircnet *net, std::string detail = {})
{
    servlist_cert_result r;
    r.ok = ok;
    char *msg = g_strdup_printf(format, display_name(net).c_str());
    r.message = msg;
    g_free(msg);
    r.detail = std::move(detail);
    return r;
}

struct tool_run {
    bool ok = false;
    std::string out;
    std::string err;
};

// Runs openssl from the search path in `dir`, without a library path that
// belongs to this program rather than to the tool.
tool_run run_openssl(const std::string &dir, const std::vector<std::string> &args)
{
    std::vector<std::string> full{"timeout", std::to_string(TOOL_TIMEOUT_S), "openssl"};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : full)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char **env = g_environ_unsetenv(g_get_environ(), "LD_LIBRARY_PATH");
    char *out = nullptr, *err = nullptr;
    int status = -1;
    GError *error = nullptr;
    tool_run run;
    if (g_spawn_sync(dir.c_str(), argv.data(), env, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &out, &err, &status,
                     &error)) {
        run.ok = g_spawn_check_wait_status(status, nullptr);
        run.out = out ? out : "";
        run.err = err ? err : "";
    } else {
        run.err = error ? error->message : "";
        g_clear_error(&error);
    }
    g_free(out);
    g_free(err);
    g_strfreev(env);
    return run;
}

// Reads a whole file whose content is secret; wiped after use by the caller.
bool read_secret_file(const std::string &path, std::string &into)
{
    char *text = nullptr;
    gsize len = 0;
    if (!g_file_get_contents(path.c_str(), &text, &len, nullptr))
        return false;
    into.append(text, len);
    OPENSSL_cleanse(text, len);
    g_free(text);
    return true;
}

} // namespace

std::string servlist_cert_path(const ircnet *net)
{
    return certs_dir() + "/" + safe_name(net) + ".pem";
}

bool servlist_cert_exists(const ircnet *net)
{
    return !safe_name(net).empty() && g_file_test(servlist_cert_path(net).c_str(), G_FILE_TEST_IS_REGULAR);
}

servlist_cert_result servlist_cert_generate(const ircnet *net)
{
    const char *failed = _("Failed to generate the client certificate for \"%s\".");
    const std::string name = safe_name(net);
    const std::string dir = certs_dir();
    if (name.empty() || g_mkdir_with_parents(dir.c_str(), 0700) != 0)
        return result(false, failed, net);
    const std::string key = dir + "/" + name + ".key", crt = dir + "/" + name + ".crt";
    const std::string cnf = dir + "/openssl.cnf";
    // A '/' in the name would start another field of the subject.
    std::string cn;
    for (char c : display_name(net)) {
        if (c == '/' || c == '\\')
            cn += '\\';
        cn += c;
    }

    tool_run run;
    if (atomic_file_write(cnf, REQUEST_CONFIG))
        run = run_openssl(dir, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-sha256",
                                "-days", "3650", "-nodes", "-keyout", name + ".key", "-out", name + ".crt", "-config",
                                "openssl.cnf", "-subj", "/CN=" + cn});
    std::string pem;
    const bool joined = run.ok && read_secret_file(key, pem) && read_secret_file(crt, pem) &&
                        atomic_file_write(servlist_cert_path(net), pem, 0600);
    OPENSSL_cleanse(pem.data(), pem.size());
    for (const std::string &tmp : {key, crt, cnf})
        g_unlink(tmp.c_str());
    if (!joined)
        return result(false, failed, net, run.err);
    return result(true, _("Client certificate generated for \"%s\"."), net);
}

servlist_cert_result servlist_cert_import(const ircnet *net, const char *file)
{
    const char *failed = _("Failed to import client certificate for \"%s\".");
    std::string pem;
    if (safe_name(net).empty() || !file || g_mkdir_with_parents(certs_dir().c_str(), 0700) != 0 ||
        !read_secret_file(file, pem))
        return result(false, failed, net);
    const bool ok = atomic_file_write(servlist_cert_path(net), pem, 0600);
    OPENSSL_cleanse(pem.data(), pem.size());
    return result(ok, ok ? _("Client certificate imported for \"%s\".") : failed, net);
}

servlist_cert_result servlist_cert_info(const ircnet *net)
{
    if (!servlist_cert_exists(net))
        return result(false, _("Failed to read client certificate information for \"%s\"."), net);
    const tool_run run = run_openssl(certs_dir(), {"x509", "-in", servlist_cert_path(net), "-noout", "-subject",
                                                   "-issuer", "-startdate", "-enddate", "-fingerprint", "-sha256"});
    if (!run.ok)
        return result(false, _("Failed to read client certificate information for \"%s\"."), net, run.err);
    return result(true, _("Client certificate information for \"%s\"."), net, run.out);
}

servlist_cert_result servlist_cert_delete(const ircnet *net)
{
    const bool ok = servlist_cert_exists(net) && g_unlink(servlist_cert_path(net).c_str()) == 0;
    return result(
        ok, ok ? _("Client certificate removed for \"%s\".") : _("Failed to remove client certificate for \"%s\"."),
        net);
}
