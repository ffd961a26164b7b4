#include "tools/msgc/GroupRules.h"

#include <stdexcept>

namespace msgc {

namespace {

GroupRules consoleRules() {
    GroupRules rules;
    rules.english_only = {"os_win_workstation_not_supported", "releases_add_remove_components",
                          "releases_install_latest_update"};
    // Values the user types and programs the wizard runs.
    rules.quoted_words = {"list", "stable", "all", "testing", "dedicated", "vz", "Full", "less", "more"};
    rules.literal_tokens = {"installer help", "products.inf3",  "SOURCE",
                            "TARGET",         "PROXY_HOST",     "PROXY_PORT",
                            "PROXY_USER",     "PROXY_PASSWORD", "DOWNLOAD_RETRY_COUNT"};
    // The wizard accepts these letters whatever the locale.
    rules.action_letters = true;
    rules.words_of_key = {{"yesno_retry", {"Y", "N"}}};
    return rules;
}

GroupRules errorRules() {
    GroupRules rules;
    // No code looks these up, so a translation may leave them out.
    rules.optional = {"err_vendor_define",
                      "err_opsys_define",
                      "err_define_osversion",
                      "err_define_os_unameversion",
                      "err_define_osarch",
                      "err_sysrelease",
                      "err_sysrelease2",
                      "err_sysarch",
                      "err_timezone_not_configured",
                      "err_date_get",
                      "err_options_write",
                      "err_pkg_info_brief",
                      "err_msi_info_brief",
                      "err_no_comps_selected",
                      "err_srclist_restore",
                      "err_srclist_backup",
                      "err_inst_rpms_cmd",
                      "err_inst_rpms_cmd_exec",
                      "err_inst_msh",
                      "err_inst_shpkg",
                      "err_exec_shpkg",
                      "err_rpmtrans_pipe",
                      "err_rpmtrans_fork",
                      "err_rpmtrans_noblock",
                      "err_rpmtrans_read",
                      "err_rpmtrans_sig",
                      "err_rpmtrans_failed",
                      "err_rpmdb_open",
                      "err_pkgopen",
                      "err_pkgread_rpmts",
                      "err_pkg_instadd",
                      "err_rpmtrans_check",
                      "err_rpmtrans_err",
                      "err_unkn_pkgsys",
                      "err_rel_notsuit",
                      "err_bad_prodverfile",
                      "err_rmfile1",
                      "err_rmdir",
                      "err_rename",
                      "err_opendir",
                      "err_zypper_not_found",
                      "err_zypper_version_unsupported",
                      "err_addrepo_zypper",
                      "err_pkginst_zypper",
                      "err_pkginst_zypper_exec",
                      "err_vzag_emptydta",
                      "err_vzag_error",
                      "err_vzag_emptysys",
                      "err_vzag_sendrq",
                      "err_vzag_recvans",
                      "err_vzag_parseans",
                      "err_vzag_badans",
                      "err_vzag_unknans",
                      "err_std_fn_not_match_re",
                      "err_no_pkg_local_src",
                      "err_util_exec",
                      "err_component_not_resolved",
                      "param_password_policy_not_valid",
                      "param_password_policy_too_short",
                      "param_password_policy_too_long",
                      "param_password_policy_too_simple",
                      "err_ext_catalog_feed_dwnld",
                      "err_cmd_not_supported_on_platform"};
    // Command words, the answers of a yes-or-no setting and attribute names of the catalogue files.
    rules.quoted_words = {
        "list",    "list-all", "help",      "install",    "update",  "add",
        "upgrade", "yes",      "no",        "id",         "config",  "name",
        "version", "os_name",  "os_vendor", "os_version", "os_arch", "upgrade_allowed_from"};
    rules.literal_tokens = {"Custom"};
    return rules;
}

GroupRules webRules() {
    GroupRules rules;
    // Every web text ends up inside one line of HTML or script.
    rules.line_breaks = false;
    rules.literal_tokens = {"SOURCE", ".inf3", "preferences.html"};
    rules.script_strings = {"web_show_only_installed",
                            "web_components_to_be_installed",
                            "web_components_to_be_removed",
                            "web_components_dropdown_leave_installed",
                            "web_components_dropdown_delete",
                            "web_components_dropdown_do_not_install",
                            "web_components_dropdown_to_install",
                            "web_components_uninstall_not_supported",
                            "web_components_group_hint_selected"};
    rules.confirmations = {"web_iup_cancel_confirm", "web_ac_cancel_confirm", "web_uc_cancel_confirm",
                           "web_install_cancel_confirm"};
    return rules;
}

} // namespace

GroupRules GroupRules::forGroup(const std::string& group) {
    if (group == "Console")
        return consoleRules();
    if (group == "Error")
        return errorRules();
    if (group == "Web")
        return webRules();
    throw std::invalid_argument("unknown text group " + group + " (expected Console, Web or Error)");
}

} // namespace msgc
