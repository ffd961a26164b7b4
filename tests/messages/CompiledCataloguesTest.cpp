#include "common/runtime/Messages.h"
#include "tools/msgc/CatalogueFile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using msgc::CatalogueFile;

namespace {

CatalogueFile englishFile(const std::string& group) {
    return CatalogueFile::parse(std::string(MOXEL_SOURCE_DIR) + "/messages/data/" + group + "/en_US.msg");
}

// The compiled English tables: what the program looks up, not the data files.
class CompiledCataloguesTest : public ::testing::Test {
protected:
    Messages::messages_rep table{"C"};

    const std::string& text(const char* key) { return table.getMessage(key); }
};

TEST_F(CompiledCataloguesTest, EnglishTablesHoldExactlyTheInventory) {
    const CatalogueFile console = englishFile("console");
    const CatalogueFile error = englishFile("error");
    const CatalogueFile web = englishFile("web");
    EXPECT_EQ(console.entries().size(), 265u);
    EXPECT_EQ(error.entries().size(), 286u);
    EXPECT_EQ(web.entries().size(), 136u);

    // The groups share no key, so the table holds all of them side by side and nothing else.
    ASSERT_EQ(table.size(), 265u + 286u + 136u);
    for (const CatalogueFile* file : {&console, &error, &web})
        for (const msgc::Entry& entry : file->entries())
            EXPECT_EQ(text(entry.key.c_str()), entry.text) << entry.key;
    EXPECT_EQ(table.size(), 265u + 286u + 136u)
        << "a key of the data files is missing from the compiled table";
}

TEST_F(CompiledCataloguesTest, TranslationsWithoutTextsShowEnglish) {
    Messages::messages_rep german("de_DE.UTF-8");
    EXPECT_EQ(german.size(), table.size());
    EXPECT_EQ(german.getMessage("download_retry"), "%s. Will retry in %s second(s)...");
    EXPECT_EQ(german.getMessage("web_continue"), "Continue");
    EXPECT_EQ(german.getMessage("err_not_root"), "Moxel Installer should be executed with root privileges.");
}

TEST_F(CompiledCataloguesTest, RunTimeTextsKeepTheirEdges) {
    EXPECT_EQ(text("Dizadizezeroz"), "Moxel Installer");
    EXPECT_EQ(text("mu_executing"), "Executing     ");
    EXPECT_EQ(text("download_retry_progress"), " (retry %s of %s)");
    EXPECT_EQ(text("check_system_packages"), "Checking for installed packages... ");
    EXPECT_EQ(text("err_dep_from_pkg_unresolved"),
              "%s: No suitable solutions were found\nfor the \"%s\" dependency.\n");
    EXPECT_EQ(text("err_pkg_downgrade"),
              "Unable to downgrade the '%s' package to version %s:\n  version %s is currently installed.");
    EXPECT_EQ(text("goto_webinterface_url"),
              "\nWeb interface is now started.\n  Please visit %s in your browser.\n\n");
    EXPECT_EQ(
        text("ignored_hostname_chk"),
        "Warning: Host name check failed.\n%s\nYour host name must resolve to the correct IP address of "
        "your server, except for\nthe cases when you use network address translation (NAT).\nThe installer "
        "will continue the installation skipping the host name check,\nhowever, there are chances that the "
        "product will not be installed properly.\n");
    EXPECT_EQ(text("error_supp_maybe"), "Please resolve this issue and try to install the packages again.\n"
                                        "Visit https://support.moxel.example/ to search for a solution.");
    EXPECT_EQ(
        text("os_win2008r2_not_supported_product_installed"),
        "Windows Server 2008 R2 is no longer supported by Moxel. We recommend that you use newer operating "
        "system versions according to our lifecycle policy (https://www.moxel.example/lifecycle-policy). "
        "Please refer to the Migration Guide (https://kb.moxel.example/migration-guide).");
    // The misspelt key names belong to the interface.
    EXPECT_EQ(text("installling_pkgs"), "Installing packages");
}

TEST_F(CompiledCataloguesTest, WizardTexts) {
    EXPECT_EQ(text("wizard_legend_d_deselect_all"), "(D) Deselect all");
    EXPECT_EQ(text("yesno_retry"), "Type Y for yes or N for no");
    EXPECT_EQ(text("retype_password"), "Retype password: ");
    EXPECT_EQ(text("options_page_body5"), "\nComponent '%s': all required parameters were defined.\n");
    EXPECT_EQ(text("ask_customer_feedback"),
              "Would you like to help Moxel make better products by sending information \n"
              "about issues occurred, including installation and upgrade issues?");
    EXPECT_EQ(text("hello_page_body"),
              "------ IMPORTANT ------\n"
              "\n"
              "* New installation of product(s) should be performed on clean servers only.\n"
              "\n"
              "* Before upgrading Moxel, be sure to back up your data.\n"
              "\n"
              "* By using this Wizard you agree to the terms and conditions described at\n"
              "  https://www.moxel.example/terms and those of the Moxel End User\n"
              "  License Agreement.\n");
    EXPECT_EQ(text("settings_page_body"),
              "These settings (the location of product distribution packages, the storage for\n"
              "downloaded files, proxy settings, download settings) can be specified either\n"
              "via command line arguments or configuration file.\n"
              "\n"
              " Command line               | Configuration file         | Summary\n"
              " ---------------------------+----------------------------+---------------------\n"
              " --source <URL or path>     | SOURCE = <URL or path>     | installation source\n"
              " --target <dir>             | TARGET = <dir>             | downloads directory\n"
              " --proxy-host <host>        | PROXY_HOST = <host>        | proxy domain or IP\n"
              " --proxy-port <port>        | PROXY_PORT = <port>        | proxy port number\n"
              " --proxy-user <user>        | PROXY_USER = <user>        | proxy user\n"
              " --proxy-password <pass>    | PROXY_PASSWORD = <pass>    | proxy user password\n"
              " --download-retry-count <N> | DOWNLOAD_RETRY_COUNT = <N> | max download retries\n"
              "\n"
              "To change these settings you will need to quit the installer and start it\n"
              "with the new settings. For details on the command line options, run the\n"
              "installer with the '--help-options' option.\n");
}

TEST_F(CompiledCataloguesTest, OptionStyleHelpBlocks) {
    EXPECT_EQ(text("usage_header"),
              "Usage: installer [OPTIONS]\n"
              "\n"
              "Run the Moxel Installer without options to start it as an interactive wizard.\n"
              "\n");
    EXPECT_EQ(text("usage_feedback"),
              " Feedback control options:\n"
              "    --enable-feedback    Start automatic submission of reports about issues \n"
              "                         occurred during Moxel installation and upgrade,\n"
              "                         and other issues with Moxel.\n"
              "                         Important: This option applies to all further\n"
              "                         operations with Moxel.\n"
              "\n"
              "    --disable-feedback   Stop automatic submission of reports about Moxel\n"
              "                         installation, upgrade, and other problems to Moxel.\n"
              "                         Important: This option applies to all further\n"
              "                         operations with Moxel.\n"
              "\n");
    EXPECT_EQ(text("usage_download"),
              " Download options:\n"
              "    --source <URL or absolute path>\n"
              "                         Installation source: a mirror URL or an absolute path\n"
              "                         to a directory containing top-level products.inf3 file.\n"
              "\n"
              "                         Sample values:\n"
              "                           http://updates.moxel.example/\n"
              "                           /root/cordavine/\n"
              "                           http://updates-win.moxel.example/\n"
              "                           C:\\CordavineInstaller\\cordavine\n"
              "\n"
              "    --target <dir>       Directory to store temporary downloaded files.\n"
              "\n"
              "                         Sample value:\n"
              "                           /root/cordavine/\n"
              "\n"
              "    --download-retry-count <number>\n"
              "                         Maximum number of retries for download operations.\n"
              "\n");
    EXPECT_EQ(text("usage_help"), " Options to get information about Moxel Installer:\n"
                                  "    --version            Show the Moxel Installer's version.\n"
                                  "\n"
                                  "    --usage,\n"
                                  "    --help               Show the main help page.\n"
                                  "\n"
                                  "    --help-options       Show this help page.\n"
                                  "\n");
    EXPECT_EQ(text("usage_end"), "See 'installer help' for information on a command-based interface.\n");
}

// The page layout: lines of at most 80 characters but three, trailing blanks in three lines only,
// one empty line after every block but the last.
TEST_F(CompiledCataloguesTest, OptionStyleHelpLayout) {
    const char* const blocks[] = {"usage_header",    "usage_install",  "usage_remove",   "usage_upgrade",
                                  "usage_selectors", "usage_list",     "usage_feedback", "usage_download",
                                  "usage_proxy",     "usage_override", "usage_no_warn",  "usage_automation",
                                  "usage_web",       "usage_console",  "usage_obsolete", "usage_deprecated",
                                  "usage_logging",   "usage_help",     "usage_end"};
    std::vector<std::string> long_lines, trailing_blanks;
    int number = 0;
    for (const char* key : blocks) {
        ++number;
        const std::string& block = text(key);
        ASSERT_EQ(block.back(), '\n') << key;
        EXPECT_EQ(block.size() >= 2 && block.compare(block.size() - 2, 2, "\n\n") == 0, number < 19) << key;
        std::istringstream lines(block);
        std::string line;
        for (int line_number = 1; std::getline(lines, line); ++line_number) {
            const std::string place = std::to_string(number) + ":" + std::to_string(line_number);
            if (line.size() > 80)
                long_lines.push_back(place + "=" + std::to_string(line.size()));
            if (!line.empty() && line.back() == ' ')
                trailing_blanks.push_back(place);
        }
    }
    EXPECT_EQ(long_lines, (std::vector<std::string>{"2:12=82", "5:31=81", "15:15=82"}));
    EXPECT_EQ(trailing_blanks, (std::vector<std::string>{"7:2", "16:32", "16:33"}));
}

TEST_F(CompiledCataloguesTest, CommandStyleHelp) {
    EXPECT_EQ(text("usage_cmd_prefix"), "Usage: installer ");
    EXPECT_EQ(text("usage_cmd_version"), "Show Moxel Installer version information.");
    EXPECT_EQ(text("usage_selector"), "Each SELECTOR is one of the following:\n"
                                      "  product ID,       e.g. '%1%'\n"
                                      "  release tier,     e.g. 'stable' or 'all' for no tier filter\n"
                                      "  release version,  e.g. '%2%'\n"
                                      "  release ID,       e.g. '%3%'\n"
                                      "\n"
                                      "Use the 'list' command to check which selectors are valid.\n");
    EXPECT_EQ(text("usage_cmd_update_tail"),
              "Examples:\n"
              "  Install latest available updates for all installed products:\n"
              "    update\n"
              "  Update Moxel installation and apply latest patch version:\n"
              "    update %1%\n"
              "  Update Moxel and reinstall the latest patch version:\n"
              "    update %1% --repatch\n"
              "  Install only Moxel updates, do not update other services managed by Moxel\n"
              "  if possible (applicable only to the '%1%' product):\n"
              "    update --panel-only\n");
    EXPECT_EQ(text("usage_commands"),
              "Usage: installer COMMAND [OPTIONS]\n"
              "\n"
              "Install, update, or upgrade Moxel.\n"
              "If no command is specified, Moxel Installer will start in interactive mode.\n"
              "\n"
              "Commands:\n"
              "    list      Show available products, releases, components, or presets\n"
              "    list-all  Show all products and releases\n"
              "    install   Install a product\n"
              "    update    Update an installed product\n"
              "    add       Add components to an installed product\n"
              "    remove    Remove components from an installed product\n"
              "    upgrade   Upgrade an installed product\n"
              "    stop      Stop an already running Moxel Installer\n"
              "    version   Show Moxel Installer version information\n"
              "    help      Show help for a specified command or list all commands\n"
              "\n"
              "See 'installer help COMMAND' for more information on a specific command.\n"
              "See 'installer --help-options' for extended option-based interface.\n");
    EXPECT_EQ(text("usage_verbose"),
              "To see the full list of available options, add '--verbose' or '-v' to the command line.");
    EXPECT_EQ(text("usage_hdr_env_opts"), "Options to override detected operating system environment");
    EXPECT_EQ(text("usage_opt_override_env"),
              "Override the detected environment (possible values: 'dedicated', 'vz')");
}

TEST_F(CompiledCataloguesTest, ErrorTexts) {
    EXPECT_EQ(text("err_exec_cmd"), " Full command was: %s");
    EXPECT_EQ(text("err_examine_stopped"), "\n Resolve all found issues and run Moxel Installer again.");
    EXPECT_EQ(text("err_stopped_by_user"), "The installation was stopped by a user's request. ");
    EXPECT_EQ(text("err_lock_get"), "Failed to lock the file &lt;file name&gt; due to system error.");
    EXPECT_EQ(text("err_exec_dpkg_arch_register"),
              "Could not execute command `/usr/bin/dpkg --add-architecture %s`");
    EXPECT_EQ(text("err_deps_install_build"),
              "The dependency for \"%s\" required\n by the \"%s\" package could not be resolved.");
    EXPECT_EQ(
        text("err_custom_installation_in_non_interactive_mode"),
        "--installation-type Custom isn't allowed in non interacrive mode. To perform custom installation "
        "use --install-component option.");
    EXPECT_EQ(text("err_ssl_strong_recomended"),
              "Warning: We recommend that you connect to the Web-based installation\n"
              "wizard over a secure connection so as to prevent your administrative\n"
              "password from being intercepted by a third party. To do this, issue\n"
              "the command installer_file_name --web-interface --ssl-cert\n"
              "/root/my_server_cert.pem, where /root/my_server_cert.pem is the path\n"
              "to the SSL certificate file that you will use for securing connections\n"
              "to Moxel. This should be either a valid SSL certificate\n"
              "purchased from a certificate authority, or a self-signed SSL certificate.\n"
              "If you understand the security risks and do not want to use a secure\n"
              "connection, issue the command installer_file_name --web-interface --without-ssl.\n");
    EXPECT_EQ(text("param_password_too_short"),
              "The specified password is too short. The password should be at least %s characters long.");
    // Keys that share one English text stay separate keys.
    EXPECT_EQ(text("err_deps_nochance"), text("err_bad_deps"));
    EXPECT_EQ(text("err_bad_deps"),
              "Unable to install the selected components because of package dependency problems.");
    EXPECT_EQ(text("err_vzag_unknans"), text("err_vzag_emptydta"));
}

TEST_F(CompiledCataloguesTest, WebTexts) {
    EXPECT_EQ(text("web_caption"), "Moxel Installer");
    EXPECT_EQ(text("web_selfupgrade_autorefresh1"), "This page will automatically refresh in a while.<br>If "
                                                    "you experience any difficulties, follow this ");
    EXPECT_EQ(text("web_releases_no_avail"),
              "There are no products for your operating system<br>( %s ) available<br> from the selected "
              "source.<br><br>You can try <a href=\"preferences.html\">using another source</a>.<br>");
    EXPECT_EQ(text("web_works_better"), " works better with ");
    EXPECT_EQ(text("web_required_preferences"), " - required fields");
    // The browser's script, not the catalogue, turns backslash and n into a line break.
    EXPECT_EQ(text("web_iup_cancel_confirm"), "Product installation was not finished.\\nCancel anyway?");
    EXPECT_EQ(text("web_components_group_hint_selected"), "(#{selected} of #{total} selected)");
    EXPECT_EQ(text("web_components_deps_denied_remove_intro"),
              "The following components depend on the components you are going to remove or conflict with "
              "components you are going to install, but cannot be implcitly removed:");
    EXPECT_EQ(text("web_warn_server_end"), ".");
}

} // namespace
