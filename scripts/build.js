'use strict';
// `npm install` and `npm run build`: builds everything and places
// resources/bin/pelmora.node.
const { buildPreset, main } = require('./setup');

main(() => {
  buildPreset('release');
  console.log('built resources/bin/pelmora.node');
});
