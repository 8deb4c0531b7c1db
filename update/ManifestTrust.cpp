#include "update/ManifestTrust.h"

#include "update/KeyList.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFetch.h"
#include "update/ManifestSignature.h"
#include "update/UpdateEngine.h"

namespace {

const char kSignatureVerified[] = "清单签名已验证  ";
const char kSignatureMissing[] = "清单没有签名  ";
const char kSignatureMalformed[] = "清单签名格式错误  ";
const char kSignatureInvalid[] = "清单签名无效  ";
const char kSignerNotInNewerList[] = "清单签名密钥已不在密钥列表中  ";
const char kKeyListTaken[] = "密钥列表已更新  版本";
const char kRootsRotated[] = "根密钥已轮换  版本";
const char kThresholdInfix[] = "  门限 ";
const char kKeyListRefused[] = "密钥列表被拒绝  ";
const char kKeyListExpired[] = "密钥列表已过期  版本";
const char kExpiresInfix[] = "  有效期至 ";
const char kClockInfix[] = "  本机时钟 ";
const char kIssuedInvalid[] = "清单签发时间无效  ";
const char kIssuedOlder[] = "清单早于已接受的清单  ";
const char kIssuedInfix[] = "  签发 ";
const char kAcceptedInfix[] = "  已接受 ";
const char kTrustUnreadable[] = "信任状态无法读取，使用内置根密钥  ";
const char kTrustNotKept[] = "信任状态无法保存  ";
/// A walk stops here even when every step verifies: no operator rotates that often.
constexpr unsigned kMaxKeyListSteps = 64;

std::string Number(unsigned number)
{
    return std::to_string(number);
}

/// Why a key list was refused, in the log's words.
std::string RefusalReason(KeyListStep step, unsigned listed, const TrustState& trust)
{
    switch (step) {
    case KeyListStep::lower:
        return "版本 " + Number(listed) + " 低于本机的 " + Number(trust.version);
    case KeyListStep::notNext:
        return "版本 " + Number(listed) + " 不是下一个版本 " + Number(trust.version + 1);
    case KeyListStep::rootsShort:
        return "根密钥签名不足  门限 " + Number(trust.roots.threshold);
    case KeyListStep::newRootsShort:
        return "新根密钥签名不足";
    default:
        return "格式错误";
    }
}

bool IsTaken(KeyListStep step)
{
    return step == KeyListStep::taken || step == KeyListStep::rotated;
}

/// A list that was there and was not taken, which the log must say.
bool IsRefusal(KeyListStep step)
{
    return !IsTaken(step) && step != KeyListStep::notNewer && step != KeyListStep::missing;
}

}  // namespace

CManifestTrust::CManifestTrust(CUpdateEngine& engine, std::string url, const RootSet& builtIn)
    : m_engine(engine), m_url(std::move(url))
{
    bool unreadable = false;
    m_trust = LoadTrust(engine.m_strModuleDir, builtIn, unreadable);
    if (unreadable)
        m_engine.m_log.WriteLog((kTrustUnreadable + std::string(kTrustFileName)).c_str());
}

bool CManifestTrust::VerifySigner()
{
    return FindManifestSigner(m_trust, m_digest, m_signature, m_signer);
}

bool CManifestTrust::Authenticate(const std::string& body)
{
    bool missing = false;
    const char* outcome = kSignatureInvalid;
    std::string signedPart;
    if (!SplitSignedManifest(body, signedPart, m_signature, missing)) {
        outcome = missing ? kSignatureMissing : kSignatureMalformed;
    } else {
        m_digest = CSha256::Of(signedPart.data(), signedPart.size());
        bool verified = VerifySigner();
        // A signer the trust does not know may be a release key of a newer list; a list that has
        // expired may have a successor.
        if (!verified || KeyListExpired(m_trust, UtcNow())) {
            FetchNewerKeyLists();
            verified = VerifySigner();
        }
        if (verified)
            outcome = kSignatureVerified;
    }
    m_engine.m_log.WriteLog((outcome + m_url).c_str());
    return outcome == kSignatureVerified;
}

bool CManifestTrust::Vouches(const ManifestRelease& release)
{
    CLog& log = m_engine.m_log;
    // A newer list may have revoked the signer: a launcher started after it was published sees it.
    if (release.keyList > m_trust.version && !m_bListsFetched) {
        FetchNewerKeyLists();
        if (!VerifySigner()) {
            log.WriteLog((kSignerNotInNewerList + m_url).c_str());
            return false;
        }
    }
    const FILETIME now = UtcNow();
    if (KeyListExpired(m_trust, now)) {
        log.WriteLog((kKeyListExpired + Number(m_trust.version) + kExpiresInfix + m_trust.expires + kClockInfix +
                      FormatUtcTime(now) + "  " + m_url)
                         .c_str());
        return false;
    }
    FILETIME issued{};
    if (!release.issued.empty() && !ParseUtcTime(release.issued, issued)) {
        log.WriteLog((kIssuedInvalid + m_url + kIssuedInfix + release.issued).c_str());
        return false;
    }
    // Both times are in the one fixed format, so their texts sort as the times do. A manifest
    // without Issued comes from before any that has one. The time kept counts only while the key
    // that signed it may still sign.
    if (!m_trust.issued.empty() && HasKey(ManifestSigners(m_trust), m_trust.issuedBy) &&
        release.issued < m_trust.issued) {
        log.WriteLog((kIssuedOlder + m_url + kIssuedInfix + (release.issued.empty() ? "-" : release.issued) +
                      kAcceptedInfix + m_trust.issued)
                         .c_str());
        return false;
    }
    return true;
}

void CManifestTrust::Accept(const ManifestRelease& release)
{
    if (release.issued.empty() || (release.issued == m_trust.issued && m_signer == m_trust.issuedBy))
        return;
    m_trust.issued = release.issued;
    m_trust.issuedBy = m_signer;
    Keep();
}

KeyListStep CManifestTrust::OfferKeyList(const std::string& url)
{
    std::string body;
    if (!FetchManifest(m_engine, url, body))
        return KeyListStep::missing;
    unsigned listed = 0;
    const TrustState before = m_trust;
    const KeyListStep step = AdvanceTrust(m_trust, body, listed);
    CLog& log = m_engine.m_log;
    if (step == KeyListStep::taken)
        log.WriteLog((kKeyListTaken + Number(listed) + "  " + url).c_str());
    else if (step == KeyListStep::rotated)
        log.WriteLog((kRootsRotated + Number(listed) + kThresholdInfix + Number(m_trust.roots.threshold) + "  " + url)
                         .c_str());
    else
        m_refusal = kKeyListRefused + url + "  " + RefusalReason(step, listed, before);
    return step;
}

void CManifestTrust::FetchNewerKeyLists()
{
    m_bListsFetched = true;
    const unsigned held = m_trust.version;
    const std::string base = m_url.substr(0, m_url.rfind('/') + 1);
    const KeyListStep newest = OfferKeyList(base + keylist::kCurrentFileName);
    std::string refusal = IsRefusal(newest) ? m_refusal : std::string();
    if (newest == KeyListStep::notNext || newest == KeyListStep::rootsShort) {
        // Signed by roots this launcher does not know yet, or further ahead: the versions between
        // are walked one by one, each signed by the roots in effect before it.
        KeyListStep step = KeyListStep::taken;
        for (unsigned walked = 0; walked < kMaxKeyListSteps && IsTaken(step); ++walked)
            step = OfferKeyList(base + VersionedKeyListName(m_trust.version + 1));
        if (IsRefusal(step))
            refusal = m_refusal;
        else if (m_trust.version != held)
            refusal.clear();
    }
    if (!refusal.empty())
        m_engine.m_log.WriteLog(refusal.c_str());
    if (m_trust.version != held)
        Keep();
}

void CManifestTrust::Keep()
{
    const DWORD error = SaveTrust(m_engine.m_strModuleDir, m_trust);
    if (error != ERROR_SUCCESS)
        m_engine.m_log.WriteLog((kTrustNotKept + Number(error)).c_str());
}
