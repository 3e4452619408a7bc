// The player page: its parts, then the demo's runtime, which calls into them.
import { $, qm } from './qm.js';
import { startRuntime } from './runtime.js';
import './layout.js';
import './controls.js';

if (!qm.error) startRuntime($('canvas'));
