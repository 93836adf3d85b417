#pragma once

#include <cstdint>
#include <string>

// Results of Load and Save. 0 is success; the negative codes say what failed,
// and GetFailureReason() says why in one sentence.
inline constexpr int kPictureOk = 0;
inline constexpr int kPictureAlreadyLoaded = -1; // Load on a loaded object; Save with no image
inline constexpr int kPictureCannotCreate = -2; // the image object could not be created (file unreadable)
inline constexpr int kPictureNotSupported = -3; // not a picture of this kind, malformed or unsupported
inline constexpr int kPictureWriteFailed = -4; // the output file could not be written

// A carrier picture: a BMP or JPEG file whose pixels can hold a secret-data
// container. The picture knows where container bytes live in its format; the
// password, the check and the cipher stay with the caller, which works directly
// in the container buffer through GetDataBuffer.
class CCarrierPicture {
public:
    virtual ~CCarrierPicture() = default;

    virtual int HasSecretData() const { return m_bHasSecret; }
    virtual std::uint32_t GetDataSpace() const { return m_dataSpace; }
    virtual int Load(const std::string& path)
    {
        (void)path;
        return kPictureOk;
    }
    // Loads the picture for reading its container only (revealing, or
    // describing it): the same checks, data space and container as Load,
    // but a picture may skip keeping what only Save needs, and Save may then
    // refuse. By default the same as Load.
    virtual int LoadForReading(const std::string& path) { return Load(path); }
    // Loads the picture for hiding a message and saving it: the same checks,
    // data space, container and saved file as Load, but a picture may leave
    // what it does not change in the file, which must then stay as it is
    // until Save. By default the same as Load.
    virtual int LoadForHiding(const std::string& path) { return Load(path); }
    // Writes the magic into container bytes 0-5.
    virtual void MarkSecret();
    virtual int Save(const std::string& path)
    {
        (void)path;
        return kPictureOk;
    }
    // Byte 16 of the container buffer: the length word, then the message area.
    virtual std::uint8_t* GetDataBuffer();
    virtual const std::string& GetResultPage() const { return m_strResultPage; }
    virtual const std::string& GetReportPage() const { return m_strReportPage; }
    // Copy the 10-byte password check to or from container bytes 6-15. With
    // no picture loaded, the check reads as zeros and nothing is stored.
    virtual void SetPasswordDigest(const std::uint8_t* digest);
    virtual void GetPasswordDigest(std::uint8_t* digest) const;
    virtual void SetReportTemplate(const std::string& path) { m_strReportTemplate = path; }
    virtual void SetResultTemplate(const std::string& path) { m_strResultTemplate = path; }

    // True once Load has succeeded; the container operations need it.
    virtual bool IsLoaded() const { return false; }
    // Why this picture cannot take a hidden message, in one sentence; empty
    // when it can. Asked before a message, a password or an output file is
    // taken, so a refusal costs the user nothing. Whether a given message fits
    // is a separate question (the data space).
    virtual std::string WhyCannotHide() const;
    // Why the last Load or Save failed; empty after a success.
    const std::string& GetFailureReason() const { return m_strFailure; }
    // Why a loaded picture of this kind has no data space whatever its size;
    // empty when a larger picture would have some.
    virtual std::string GetNoRoomReason() const { return {}; }

protected:
    // The container buffer of a loaded picture (at least the 20 bytes of the
    // header and length word); null while nothing is loaded.
    virtual std::uint8_t* ContainerBuffer() { return nullptr; }
    const std::uint8_t* ContainerBuffer() const { return const_cast<CCarrierPicture*>(this)->ContainerBuffer(); }

    int m_bHasSecret = 0;
    std::uint32_t m_dataSpace = 0;
    std::string m_strResultPage;
    std::string m_strReportPage;
    std::string m_strReportTemplate;
    std::string m_strResultTemplate;
    std::string m_strFailure;
};
