// PNG pictures from the executable's resources, and the process-wide skin.
// An image belongs to the dialog or control that made it and is used on
// that one's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/canvas.h"
#include "res/resources.h"

// Owns at most one decoded picture.
class CGdiPlusPng {
 public:
  CGdiPlusPng() = default;
  CGdiPlusPng(const CGdiPlusPng&) = delete;
  CGdiPlusPng& operator=(const CGdiPlusPng&) = delete;
  virtual ~CGdiPlusPng();

  // The picture, or nullptr when there is none.
  const platform::CImage* Image() const { return pImage_.get(); }
  // Pixel counts; 0 without a picture.
  unsigned Width() const;
  unsigned Height() const;

  // The whole picture scaled into the destination; nothing without one.
  void Draw(platform::CCanvas& canvas, const platform::Rect& dest) const;
  // A source rectangle into a destination rectangle (equal sizes crop). The
  // source's part beyond the picture draws nothing.
  void Draw(platform::CCanvas& canvas, const platform::RectF& dest, const platform::RectF& source) const;

 protected:
  std::unique_ptr<platform::CImage> pImage_;
};

// A picture decoded from a PNG resource, with the copy of its bytes that
// lives as long as the picture does.
class CGdiPlusPngResource : public CGdiPlusPng {
 public:
  ~CGdiPlusPngResource() override;
  // Replaces the picture with resource (type, nId) of the module (a null
  // module is the executable). False, and no picture, when the resource is
  // missing, empty or not a PNG that decodes.
  bool Load(uint16_t nId, std::string_view type, const ResourceEntry* pModule = nullptr);
  // The size of the byte copy held; 0 without a picture.
  size_t BlockSize() const { return nBlock_; }
  const unsigned char* Block() const { return pBlock_.get(); }

 private:
  void Free();
  std::unique_ptr<unsigned char[]> pBlock_;
  size_t nBlock_ = 0;
};

// The skin of the main window (PNG 1036), or nullptr. Made during start-up,
// before any window, and destroyed by the translucent dialog. Main thread.
CGdiPlusPngResource* SkinImage();
// Destroys the skin image, if any, and loads a new one; a failed load
// leaves an empty image.
void CreateSkinImage();
void DestroySkinImage();
