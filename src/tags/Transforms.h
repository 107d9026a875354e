// Node transforms in the row-vector convention: p' = p x M, translation in M[12..14];
// applying a transform X replaces M by X x M.
#pragma once

#include "tags/Tag.h"

namespace varnel {

// M becomes X x M (full 4x4 product, computed from the old M).
void PreMultiply(double* m, const double* x);

class TransformTag : public Tag {
 public:
  explicit TransformTag(int elementId) : Tag(elementId) {}
  TransformTag* AsTransformTag() override { return this; }
  virtual void ApplyTo(double* matrix) = 0;

  bool isIdentity = true;

 protected:
  // Attributes first, then n numbers of the text into `numbers`, then the end tag.
  bool ParseNumbers(ElementSource& document, double* numbers, int n);
};

class TranslateTag : public TransformTag {
 public:
  using TransformTag::TransformTag;
  bool Parse(ElementSource& document) override;
  void ApplyTo(double* matrix) override;
  double translation[3] = {0, 0, 0};
};

class RotateTag : public TransformTag {
 public:
  using TransformTag::TransformTag;
  bool Parse(ElementSource& document) override;
  void ApplyTo(double* matrix) override;
  double axis[3] = {0, 0, 0};
  double angle = 0;  // degrees
};

class MatrixTag : public TransformTag {
 public:
  using TransformTag::TransformTag;
  bool Parse(ElementSource& document) override;
  void ApplyTo(double* matrix) override;
  double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

class ScaleTag : public TransformTag {
 public:
  using TransformTag::TransformTag;
  bool Parse(ElementSource& document) override;
  void ApplyTo(double* matrix) override;
  double factors[3] = {1, 1, 1};
};

}  // namespace varnel
