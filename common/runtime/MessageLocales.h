#pragma once

// The 32 catalogue locales in the order the text table tests them.
// X(code) is expanded once per locale; the text-catalogue compiler uses the same list.
#define MOXEL_MESSAGE_LOCALES(X)                                                                            \
    X(ar)                                                                                                   \
    X(ca_ES)                                                                                                \
    X(cs_CZ)                                                                                                \
    X(da_DK)                                                                                                \
    X(de_DE)                                                                                                \
    X(el_GR)                                                                                                \
    X(en_US)                                                                                                \
    X(es_ES)                                                                                                \
    X(fi_FI)                                                                                                \
    X(fr_FR)                                                                                                \
    X(he_IL)                                                                                                \
    X(hu_HU)                                                                                                \
    X(id_ID)                                                                                                \
    X(it_IT)                                                                                                \
    X(ja_JP)                                                                                                \
    X(ko_KR)                                                                                                \
    X(ms_MY)                                                                                                \
    X(nb_NO)                                                                                                \
    X(nl_NL)                                                                                                \
    X(pl_PL)                                                                                                \
    X(pt_BR)                                                                                                \
    X(pt_PT)                                                                                                \
    X(ro_RO)                                                                                                \
    X(ru_RU)                                                                                                \
    X(sv_SE)                                                                                                \
    X(th_TH)                                                                                                \
    X(tl_PH)                                                                                                \
    X(tr_TR)                                                                                                \
    X(uk_UA)                                                                                                \
    X(vi_VN)                                                                                                \
    X(zh_CN)                                                                                                \
    X(zh_TW)

// The text groups; each has one loader per locale, loadConsoleTexts_<locale> and so on.
#define MOXEL_MESSAGE_GROUPS(X)                                                                             \
    X(Console, console)                                                                                     \
    X(Web, web)                                                                                             \
    X(Error, error)
