// The four voice controls the morph unit reads once per block.
#pragma once

namespace parlune::voice {

struct MorphParams {
    bool isCartoonMorph = true;
    float pitch = 1.0f;    // cartoon: pitch ratio; human: mapped to the period factor
    float formant = 1.5f;  // human: envelope frequency scale; cartoon: warp strength
    int warp = 1;          // read and not used
};

}  // namespace parlune::voice
